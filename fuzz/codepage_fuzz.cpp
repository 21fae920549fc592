// SPDX-License-Identifier: MIT
// The code-page conversion: every byte string survives Windows-1252 to UTF-8 and back, and any
// text, valid UTF-8 or not, converts to bytes that then stay as they are.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/codepage.hpp"

namespace {

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80         ? 1
                             : (c >> 5) == 6  ? 2
                             : (c >> 4) == 14 ? 3
                             : (c >> 3) == 30 ? 4
                                              : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::string asText = ovk::fromAnsi(bytes);
    if (!isValidUtf8(asText) || ovk::toAnsi(asText) != bytes) std::abort();

    const std::string asBytes = ovk::toAnsi(bytes);   // the same input read as UTF-8
    if (asBytes.size() > bytes.size()) std::abort();  // one byte per character at most
    if (ovk::toAnsi(ovk::fromAnsi(asBytes)) != asBytes) std::abort();
    return 0;
}
