// SPDX-License-Identifier: MIT
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace ovk::codec_detail {

// Unaligned big-endian loads and stores: Base64 groups read and write most significant
// bits first, whatever the machine's byte order.

inline uint64_t loadBigEndian64(const uint8_t* p) {
    uint64_t value;
    std::memcpy(&value, p, sizeof value);
    if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap64(value);
    return value;
}

inline void storeBigEndian32(uint8_t* p, uint32_t value) {
    if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap32(value);
    std::memcpy(p, &value, sizeof value);
}

}  // namespace ovk::codec_detail
