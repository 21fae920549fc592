// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>

namespace ovk {

// How long a text from a service or a parser may be when it reaches an event, a message box
// or the validation text: long enough for any honest explanation, short enough that a hostile
// service cannot hand the host hundreds of megabytes.
inline constexpr std::size_t kMaxReportedText = 4096;

// `text` cut to at most `limit` bytes plus "…", at a UTF-8 character boundary; unchanged when
// it is short enough. Copies no more than it keeps.
inline std::string boundedText(std::string_view text, std::size_t limit = kMaxReportedText) {
    if (text.size() <= limit) return std::string(text);
    std::size_t cut = limit;
    // Back up over continuation bytes so that no character is split.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    std::string result(text.substr(0, cut));
    result += "\xE2\x80\xA6";
    return result;
}

// `prefix` followed by 128 random bits in hex: a name that no text of a file or a reply can be
// expected to hold, for the stand-ins and markers put into a document while it is written.
inline std::string unguessableName(std::string_view prefix) {
    std::mt19937_64 random{std::random_device{}()};
    char bits[33];
    std::snprintf(bits, sizeof bits, "%016llx%016llx", static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(random()));
    return std::string(prefix) + bits;
}

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

// `code` appended to `out` as UTF-8; `code` is a Unicode scalar value (the callers check).
inline void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Whether XML 1.0 allows the character `code` in a document: a reference to any other is an
// error however the reply spells it.
inline bool isXmlChar(char32_t code) {
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

}  // namespace ovk
