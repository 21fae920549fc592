#include "platform/user_interface.hpp"

#include <array>

namespace ovk {

MsgBoxAnswer defaultAnswer(MsgBoxButtons buttons, MsgBoxDefault defaultButton) {
    using A = MsgBoxAnswer;
    static constexpr std::array<std::array<A, 3>, 6> kButtons{{
        {A::Ok, A::Ok, A::Ok},
        {A::Ok, A::Cancel, A::Cancel},
        {A::Abort, A::Retry, A::Ignore},
        {A::Yes, A::No, A::Cancel},
        {A::Yes, A::No, A::No},
        {A::Retry, A::Cancel, A::Cancel},
    }};
    const auto row = static_cast<size_t>(buttons);
    const auto column = static_cast<size_t>(defaultButton) / 256;
    if (row >= kButtons.size() || column >= 3) return A::Ok;
    return kButtons[row][column];
}

}  // namespace ovk
