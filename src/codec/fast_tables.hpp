// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "codec/encoding.hpp"

namespace ovk {

// Tables for the fast paths, derived from an Encoding's own two tables so that both paths
// always agree on the alphabet.
struct Encoding::FastTables {
    // Set in a decode entry for every code that is not one of the 64 digits ("=", codes
    // outside the alphabet, codes without a table entry): a group holding such a code takes
    // the exact path.
    static constexpr uint32_t kNeedsExactPath = 1u << 24;

    FastTables(std::span<const uint8_t, kEncodeTableSize> encode,
               std::span<const uint8_t, kDecodeTableSize> decode);

    // The two Base64 characters of every 12-bit value, first character first.
    std::array<std::array<uint8_t, 2>, 4096> encodePairs{};
    // decodePlace[k][c]: the digit value of code c shifted into place k of a 24-bit group,
    // or kNeedsExactPath.
    std::array<std::array<uint32_t, 256>, 4> decodePlace{};
};

}  // namespace ovk
