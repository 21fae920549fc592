#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ovk::codec_detail {

// One pass without an early exit, so that the compiler can vectorise it: payloads are long.
inline bool isAscii(std::span<const uint8_t> bytes) {
    uint8_t any = 0;
    for (const uint8_t b : bytes) any |= b;
    return any < 0x80;
}

// Whether every byte is one of the 64 Base64 digits ("=" is not one). Sixteen bytes at a
// time where the processor has SSE2 (every x86-64): a payload's check then costs a fraction of
// its decoding rather than more than it.
inline bool allBase64Digits(std::span<const uint8_t> bytes) {
    const auto digit = [](uint8_t c) {
        return static_cast<uint8_t>(c - 'A') < 26 || static_cast<uint8_t>(c - 'a') < 26 ||
               static_cast<uint8_t>(c - '0') < 10 || c == '+' || c == '/';
    };
    std::size_t at = 0;
#if defined(__SSE2__)
    const auto within = [](__m128i v, char low, char high) {
        return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(low - 1))),
                             _mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(high + 1))));
    };
    for (; at + 16 <= bytes.size(); at += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + at));
        const __m128i digits = _mm_or_si128(
            _mm_or_si128(within(v, 'A', 'Z'), within(v, 'a', 'z')),
            _mm_or_si128(within(v, '0', '9'), _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('+')),
                                                           _mm_cmpeq_epi8(v, _mm_set1_epi8('/')))));
        if (_mm_movemask_epi8(digits) != 0xFFFF) return false;
    }
#endif
    for (; at < bytes.size(); ++at) {
        if (!digit(bytes[at])) return false;
    }
    return true;
}

inline std::span<const uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace ovk::codec_detail
