// SPDX-License-Identifier: MIT
#include "util/case_fold.hpp"

#include <cstdint>

#include "platform/text.hpp"

namespace ovk {
namespace {

char32_t foldCodePoint(char32_t c) {
    if (c >= U'A' && c <= U'Z') return c + 0x20;
    if (c < 0xC0) return c;
    // Latin-1: À to Þ except the multiplication sign.
    if (c <= 0xDE) return c == 0xD7 ? c : c + 0x20;
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A pairs capital and small letter, capital first; three runs start on
        // an odd code, and a few letters (dotless i, kra, n preceded by apostrophe) have no pair.
        if (c == 0x178) return 0xFF;  // Ÿ
        const bool oddRun = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddRun) return (c & 1) != 0 ? c + 1 : c;
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        return (c & 1) == 0 ? c + 1 : c;
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;  // Greek
    if (c == 0x3C2) return 0x3C3;                                 // final sigma
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;                // Cyrillic
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    if (c == 0x1E9E) return 0xDF;  // capital sharp s
    return c;
}

// Decodes the sequence at the start of `s`; returns its length, or 0 when it is not valid
// UTF-8 (overlong forms and surrogates included).
std::size_t decodeUtf8(std::string_view s, char32_t& c) {
    const auto lead = static_cast<unsigned char>(s[0]);
    std::size_t length;
    char32_t min;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80, c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = 0x800, c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = 0x10000, c = lead & 0x07;
    } else {
        return 0;
    }
    if (s.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(s[i]);
        if ((next & 0xC0) != 0x80) return 0;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

std::string caseFold(std::string_view utf8) {
    std::string folded;
    folded.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const char byte = utf8[i];
        if (static_cast<unsigned char>(byte) < 0x80) {
            folded.push_back(byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte + 0x20) : byte);
            ++i;
            continue;
        }
        char32_t c = 0;
        const std::size_t length = decodeUtf8(utf8.substr(i), c);
        if (length == 0) {
            folded.push_back(byte);
            ++i;
            continue;
        }
        appendUtf8(folded, foldCodePoint(c));
        i += length;
    }
    return folded;
}

}  // namespace ovk
