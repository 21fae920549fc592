// SPDX-License-Identifier: MIT
#include "platform/user_interface.hpp"

#include <array>

namespace ovk {

namespace {

using A = MsgBoxAnswer;
// The answers of each button set, first button first; a set of fewer than three repeats its
// last answer, which is what a default beyond the set's end selects.
constexpr std::array<std::array<A, 3>, 6> kButtons{{
    {A::Ok, A::Ok, A::Ok},
    {A::Ok, A::Cancel, A::Cancel},
    {A::Abort, A::Retry, A::Ignore},
    {A::Yes, A::No, A::Cancel},
    {A::Yes, A::No, A::No},
    {A::Retry, A::Cancel, A::Cancel},
}};

}  // namespace

MsgBoxAnswer defaultAnswer(MsgBoxButtons buttons, MsgBoxDefault defaultButton) {
    const auto row = static_cast<size_t>(buttons);
    const auto column = static_cast<size_t>(defaultButton) / 256;
    if (row >= kButtons.size() || column >= 3) return A::Ok;
    return kButtons[row][column];
}

bool isAnswerOf(MsgBoxButtons buttons, MsgBoxAnswer answer) {
    const auto row = static_cast<size_t>(buttons);
    if (row >= kButtons.size()) return answer == A::Ok;
    for (const A candidate : kButtons[row])
        if (candidate == answer) return true;
    return false;
}

}  // namespace ovk
