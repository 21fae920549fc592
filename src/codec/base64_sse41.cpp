// SPDX-License-Identifier: MIT
// Base64 with 16-byte vectors for processors without AVX2: the same nibble lookups and
// multiply-add packing as the 32-byte kernels (Muła and Lemire, 2018), one lane wide.
#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include "codec/base64_kernels.hpp"

#define OVK_SSE41 __attribute__((target("sse4.1")))

namespace ovk::codec_detail {
namespace {

OVK_SSE41 std::size_t decodeDigitsSse41(const uint8_t* in, std::size_t groups, uint8_t* out,
                                        std::size_t outSize) {
    // See base64_avx2.cpp for how the three tables classify and translate a character.
    const __m128i invalidByLow = _mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                                               0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m128i classOfHigh = _mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10,
                                              0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    const __m128i offsetByHigh =
        _mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i gather = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);

    std::size_t g = 0;
    // Each step stores 16 bytes of which 12 are results.
    while (g + 4 <= groups && 3 * g + 16 <= outSize) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * g));
        const __m128i high = _mm_and_si128(_mm_srli_epi32(chars, 4), nibble);
        const __m128i low = _mm_and_si128(chars, nibble);
        if (!_mm_testz_si128(_mm_shuffle_epi8(invalidByLow, low),
                             _mm_shuffle_epi8(classOfHigh, high))) {
            break;
        }
        const __m128i isSlash = _mm_cmpeq_epi8(chars, _mm_set1_epi8('/'));
        const __m128i values =
            _mm_add_epi8(chars, _mm_shuffle_epi8(offsetByHigh, _mm_add_epi8(high, isSlash)));
        const __m128i pairs = _mm_maddubs_epi16(values, _mm_set1_epi32(0x01400140));
        const __m128i packed = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * g), _mm_shuffle_epi8(packed, gather));
        g += 4;
    }
    return g;
}

OVK_SSE41 std::size_t encodeGroupsSse41(const uint8_t* in, std::size_t size, uint8_t* out) {
    const __m128i spread = _mm_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
    const __m128i offsets =
        _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                      '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
    std::size_t g = 0;
    // Each step reads 16 bytes and encodes 12 of them.
    while (3 * g + 16 <= size) {
        const __m128i bytes =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * g)), spread);
        const __m128i values =
            _mm_or_si128(_mm_mulhi_epu16(_mm_and_si128(bytes, _mm_set1_epi32(0x0FC0FC00)),
                                         _mm_set1_epi32(0x04000040)),
                         _mm_mullo_epi16(_mm_and_si128(bytes, _mm_set1_epi32(0x003F03F0)),
                                         _mm_set1_epi32(0x01000010)));
        __m128i range = _mm_subs_epu8(values, _mm_set1_epi8(51));
        range = _mm_or_si128(
            range, _mm_and_si128(_mm_cmpgt_epi8(_mm_set1_epi8(26), values), _mm_set1_epi8(13)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * g),
                         _mm_add_epi8(values, _mm_shuffle_epi8(offsets, range)));
        g += 4;
    }
    return g;
}

}  // namespace

const Base64Kernels kSse41Base64Kernels{"sse4.1", decodeDigitsSse41, encodeGroupsSse41};

}  // namespace ovk::codec_detail

#endif
