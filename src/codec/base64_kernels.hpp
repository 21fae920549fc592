// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace ovk::codec_detail {

// Vector loops for the clean bulk of Base64 work. They only ever handle whole groups whose
// every character is one of the 64 digits (decoding) or whole three-byte groups (encoding),
// and report how far they got; the codec's own scalar code does the rest from that group
// boundary on, so every odd input keeps the result it has always had.
struct Base64Kernels {
    const char* name;

    // Decodes up to `groups` groups of four digits from `in` into three bytes each at `out`.
    // Stops before the first block that holds anything but digits and returns the number of
    // groups decoded. May leave scratch bytes after the decoded ones, never at or past
    // `outSize`.
    std::size_t (*decodeDigits)(const uint8_t* in, std::size_t groups, uint8_t* out,
                                std::size_t outSize);

    // Encodes whole three-byte groups from the `size` bytes at `in` into four characters each
    // at `out`, never reading past `size`. Returns the number of groups encoded.
    std::size_t (*encodeGroups)(const uint8_t* in, std::size_t size, uint8_t* out);
};

// The widest kernels this processor runs, chosen once.
const Base64Kernels& fastestBase64Kernels();

// Every kernel set this processor runs, the portable one (which leaves everything to the
// scalar code) first; for comparing them with each other.
std::span<const Base64Kernels* const> availableBase64Kernels();

// Kernel sets built for particular instruction sets; a caller must check the processor first.
extern const Base64Kernels kPortableBase64Kernels;
#if defined(__x86_64__) || defined(__i386__)
extern const Base64Kernels kSse41Base64Kernels;
extern const Base64Kernels kAvx2Base64Kernels;
#endif

}  // namespace ovk::codec_detail
