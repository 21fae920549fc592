#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace ovk {

// Upper case of the ASCII letters; the component compares service answers and result texts
// this way ("HELLO WORLD", "OK", "EXCEPTION").
inline std::string asciiUpper(std::string text) {
    std::ranges::transform(text, text.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// Equality and prefix tests that ignore the case of ASCII letters: file names in the
// component folder, connector property names, error texts.
inline bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::ranges::equal(a, b, [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

inline bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           equalsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace ovk
