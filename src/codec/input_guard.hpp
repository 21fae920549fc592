// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace ovk::codec_detail {

// Callers may hand the same vector in as input and output. Returns `in`, or a copy of it kept
// in `copy` when it lies inside `out`, which is about to be resized and overwritten.
template <class Bytes>
std::span<const uint8_t> detachFromOutput(std::span<const uint8_t> in, const Bytes& out,
                                          std::vector<uint8_t>& copy) {
    const std::less_equal<> notAfter;
    const bool inside = !out.empty() && notAfter(out.data(), in.data()) &&
                        std::less<>()(in.data(), out.data() + out.size());
    if (!inside) return in;
    copy.assign(in.begin(), in.end());
    return copy;
}

}  // namespace ovk::codec_detail
