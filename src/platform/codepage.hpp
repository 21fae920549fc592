// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace ovk {

// The component's single-byte "ANSI" code page is Windows-1252. Strings inside the component
// are UTF-8; these two convert at the edges (Base64 texts, symbol and GER files, tree keys).

// UTF-8 text to Windows-1252 bytes, one byte per character; a character that has no
// Windows-1252 form becomes '?'. Invalid UTF-8 bytes become '?' too.
std::string toAnsi(std::string_view utf8);

// Windows-1252 bytes to UTF-8 text, one character per byte. The five byte values that
// Windows-1252 leaves undefined map to the C1 control of the same value, so every byte
// sequence survives a round trip.
std::string fromAnsi(std::string_view ansi);

}  // namespace ovk
