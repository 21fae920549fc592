// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace ovk {

// How the INI settings files name an application, a section or a key: every byte outside
// [A-Za-z0-9_.-] percent-encoded. The result is plain ASCII without "/" and "\", which the
// format takes as group separators, and differs for different texts. The empty text, which the
// format cannot hold as a name, becomes a lone "%" that no encoded text can produce.
inline std::string encodeSettingsName(const std::string& text) {
    if (text.empty()) return "%";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const bool keptAsIs = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                              (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        if (keptAsIs) {
            encoded.push_back(ch);
        } else {
            encoded.push_back('%');
            encoded.push_back(kHex[c >> 4]);
            encoded.push_back(kHex[c & 0x0F]);
        }
    }
    return encoded;
}

}  // namespace ovk
