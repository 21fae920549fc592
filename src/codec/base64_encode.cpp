// SPDX-License-Identifier: MIT
#include <cstring>
#include <vector>

#include "codec/base64_kernels.hpp"
#include "codec/byte_order.hpp"
#include "codec/encoding.hpp"
#include "codec/fast_tables.hpp"
#include "codec/input_guard.hpp"
#include "platform/errors.hpp"

namespace ovk {
namespace {

// Writes the four characters of the 24-bit group `group` through the table of character pairs.
inline void putGroup(uint8_t* out, uint32_t group, const Encoding::FastTables& fast) {
    std::memcpy(out, fast.encodePairs[group >> 12].data(), 2);
    std::memcpy(out + 2, fast.encodePairs[group & 0xFFF].data(), 2);
}

// Works on both kinds of output vector: resize() of a ByteBuffer leaves the bytes unwritten,
// and every one of them is written below.
template <class Bytes>
void encodeInto(std::span<const uint8_t> ByteArrayIn, Bytes& ByteArrayOut,
                std::span<const uint8_t, Encoding::kEncodeTableSize> encodeTable,
                const Encoding::FastTables& fast, const codec_detail::Base64Kernels& kernels) {
    const std::size_t n = ByteArrayIn.size();
    if (n == 0) {
        throw Error(err::OutOfRange, "An empty byte sequence has no Base64 text", "EncodeB64");
    }
    std::vector<uint8_t> inputCopy;
    ByteArrayIn = codec_detail::detachFromOutput(ByteArrayIn, ByteArrayOut, inputCopy);

    const std::size_t r = n % 3;
    const std::size_t length = r != 0 ? 4 * (n + 3 - r) / 3 : 4 * n / 3;
    ByteArrayOut.resize(length);

    const uint8_t* in = ByteArrayIn.data();
    uint8_t* out = ByteArrayOut.data();
    const std::size_t vectorGroups = kernels.encodeGroups(in, n, out);
    std::size_t i = 3 * vectorGroups;
    out += 4 * vectorGroups;
    // Two groups per step from one eight-byte load, as long as eight bytes can be read.
    for (; i + 8 <= n; i += 6, out += 8) {
        const uint64_t bits = codec_detail::loadBigEndian64(in + i);
        putGroup(out, static_cast<uint32_t>(bits >> 40), fast);
        putGroup(out + 4, static_cast<uint32_t>(bits >> 16) & 0xFFFFFF, fast);
    }
    for (; i + 3 <= n; i += 3, out += 4) {
        putGroup(out, (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2], fast);
    }

    if (r == 1) {
        const uint8_t b0 = in[i];
        out[0] = encodeTable[b0 >> 2];
        out[1] = encodeTable[(b0 & 3) << 4];
        out[2] = '=';
        out[3] = '=';
    } else if (r == 2) {
        const uint8_t b0 = in[i];
        const uint8_t b1 = in[i + 1];
        out[0] = encodeTable[b0 >> 2];
        out[1] = encodeTable[((b0 & 3) << 4) | (b1 >> 4)];
        out[2] = encodeTable[(b1 & 15) << 2];
        out[3] = '=';
    }
}

}  // namespace

void Encoding::EncodeB64(std::span<const uint8_t> ByteArrayIn,
                         std::vector<uint8_t>& ByteArrayOut) const {
    encodeInto(ByteArrayIn, ByteArrayOut, encodeTable_, *fast_, *kernels_);
}

void Encoding::EncodeB64(std::span<const uint8_t> ByteArrayIn, ByteBuffer& ByteArrayOut) const {
    encodeInto(ByteArrayIn, ByteArrayOut, encodeTable_, *fast_, *kernels_);
}

}  // namespace ovk
