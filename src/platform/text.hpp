#pragma once

#include <algorithm>
#include <cctype>
#include <string>

namespace ovk {

// Upper case of the ASCII letters; the component compares service answers and result texts
// this way ("HELLO WORLD", "OK", "EXCEPTION").
inline std::string asciiUpper(std::string text) {
    std::ranges::transform(text, text.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

}  // namespace ovk
