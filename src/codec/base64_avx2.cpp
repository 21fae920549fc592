// SPDX-License-Identifier: MIT
// Base64 with 32-byte vectors, after the lookup scheme Muła and Lemire published ("Faster
// Base64 encoding and decoding using AVX2 instructions", 2018): characters are classified
// and translated by their two nibbles with in-register table lookups, and the 6-bit values
// are packed with multiply-add instructions. Built with a target attribute so that the rest
// of the library stays on the baseline instruction set.
#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstdint>

#include "codec/base64_kernels.hpp"

#define OVK_AVX2 __attribute__((target("avx2")))

namespace ovk::codec_detail {
namespace {

// Sets the same 16 bytes in both 128-bit lanes; pshufb looks up within each lane.
OVK_AVX2 inline __m256i lanes(__m128i bytes) {
    return _mm256_broadcastsi128_si256(bytes);
}

struct DigitTables {
    __m256i invalidByLow, classOfHigh, offsetByHigh;
};

// A character is a digit when the classes its low nibble rules out do not include the
// class of its high nibble; '/' is the one digit whose offset differs from its neighbours'.
OVK_AVX2 inline DigitTables digitTables() {
    return {
        lanes(_mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
                            0x1B, 0x1B, 0x1B, 0x1A)),
        lanes(_mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
                            0x10, 0x10, 0x10, 0x10)),
        lanes(_mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0)),
    };
}

// Returns false when any of the 32 characters is not a digit; otherwise `values` holds
// their 6-bit values.
OVK_AVX2 inline bool digitValues(__m256i chars, const DigitTables& t, __m256i& values) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i high = _mm256_and_si256(_mm256_srli_epi32(chars, 4), nibble);
    const __m256i low = _mm256_and_si256(chars, nibble);
    const __m256i ruledOut = _mm256_shuffle_epi8(t.invalidByLow, low);
    const __m256i classes = _mm256_shuffle_epi8(t.classOfHigh, high);
    if (!_mm256_testz_si256(ruledOut, classes)) return false;
    const __m256i isSlash = _mm256_cmpeq_epi8(chars, _mm256_set1_epi8('/'));
    const __m256i offsets = _mm256_shuffle_epi8(t.offsetByHigh, _mm256_add_epi8(high, isSlash));
    values = _mm256_add_epi8(chars, offsets);
    return true;
}

// Eight groups of four 6-bit values to their 24 bytes, in the low 24 bytes of the result.
OVK_AVX2 inline __m256i packGroups(__m256i values) {
    const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
    const __m256i groups = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    const __m256i bytes = _mm256_shuffle_epi8(
        groups, lanes(_mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1)));
    return _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
}

OVK_AVX2 std::size_t decodeDigitsAvx2(const uint8_t* in, std::size_t groups, uint8_t* out,
                                      std::size_t outSize) {
    const DigitTables tables = digitTables();
    std::size_t g = 0;
    // Each step stores 32 bytes of which 24 are results.
    while (g + 8 <= groups && 3 * g + 32 <= outSize) {
        const __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 4 * g));
        __m256i values;
        if (!digitValues(chars, tables, values)) break;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 3 * g), packGroups(values));
        g += 8;
    }
    return g;
}

// Twelve bytes per lane, at bytes 4 to 15 of the low lane and 0 to 11 of the high lane (what
// one load from four bytes before a block of 24 gives), to sixteen 6-bit values per lane.
OVK_AVX2 inline __m256i splitGroups(__m256i bytes) {
    // Each group b0 b1 b2 becomes the 32-bit word b1 b0 b2 b1, so that every 6-bit value
    // lies within one 16-bit half and two multiplies can move all four into their bytes.
    const __m256i spread = _mm256_shuffle_epi8(
        bytes, _mm256_setr_epi8(5, 4, 6, 5, 8, 7, 9, 8, 11, 10, 12, 11, 14, 13, 15, 14,  //
                                1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10));
    const __m256i firstAndThird = _mm256_mulhi_epu16(
        _mm256_and_si256(spread, _mm256_set1_epi32(0x0FC0FC00)), _mm256_set1_epi32(0x04000040));
    const __m256i secondAndFourth = _mm256_mullo_epi16(
        _mm256_and_si256(spread, _mm256_set1_epi32(0x003F03F0)), _mm256_set1_epi32(0x01000010));
    return _mm256_or_si256(firstAndThird, secondAndFourth);
}

// 6-bit values to their characters: the value's range picks the offset to add.
OVK_AVX2 inline __m256i digitsToChars(__m256i values) {
    __m256i range = _mm256_subs_epu8(values, _mm256_set1_epi8(51));  // 1..12 for 52..63
    const __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), values);
    range = _mm256_or_si256(range, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
    const __m256i offsets =
        lanes(_mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                            '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0));
    return _mm256_add_epi8(values, _mm256_shuffle_epi8(offsets, range));
}

enum class Store { Cached, Streaming };

template <Store kStore>
OVK_AVX2 inline void encodeBlock(__m256i bytes, uint8_t* out) {
    const __m256i chars = digitsToChars(splitGroups(bytes));
    if constexpr (kStore == Store::Streaming) {
        _mm256_stream_si256(reinterpret_cast<__m256i*>(out), chars);
    } else {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), chars);
    }
}

// Encodes from group 8 on; each step reads from four bytes before its block to four after it.
template <Store kStore>
OVK_AVX2 std::size_t encodeFromSecondBlock(const uint8_t* in, std::size_t size, uint8_t* out) {
    std::size_t g = 8;
    for (; 3 * g + 52 <= size; g += 16) {
        const uint8_t* p = in + 3 * g - 4;
        encodeBlock<kStore>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), out + 4 * g);
        encodeBlock<kStore>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 24)),
                            out + 4 * g + 32);
    }
    for (; 3 * g + 28 <= size; g += 8) {
        encodeBlock<kStore>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 3 * g - 4)),
                            out + 4 * g);
    }
    if constexpr (kStore == Store::Streaming) _mm_sfence();
    return g;
}

// Outputs this large leave the caches anyway; writing them past the caches saves reading
// every line in before it is overwritten, as a third more bytes go out than came in.
constexpr std::size_t kStreamFrom = std::size_t{8} << 20;

OVK_AVX2 std::size_t encodeGroupsAvx2(const uint8_t* in, std::size_t size, uint8_t* out) {
    if (size < 28) return 0;
    // The first block has no four bytes before it: its low lane is loaded on its own.
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    encodeBlock<Store::Cached>(
        _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_slli_si128(first, 4)),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12)), 1),
        out);
    // Streaming stores need 32-byte alignment, which each block's 32 characters keep.
    if (size >= kStreamFrom && reinterpret_cast<std::uintptr_t>(out) % 32 == 0) {
        return encodeFromSecondBlock<Store::Streaming>(in, size, out);
    }
    return encodeFromSecondBlock<Store::Cached>(in, size, out);
}

}  // namespace

const Base64Kernels kAvx2Base64Kernels{"avx2", decodeDigitsAvx2, encodeGroupsAvx2};

}  // namespace ovk::codec_detail

#endif
