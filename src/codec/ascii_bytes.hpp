// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace ovk::codec_detail {

// One pass without an early exit, so that the compiler can vectorise it: payloads are long.
inline bool isAscii(std::span<const uint8_t> bytes) {
    uint8_t any = 0;
    for (const uint8_t b : bytes) any |= b;
    return any < 0x80;
}

inline std::span<const uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace ovk::codec_detail
