// SPDX-License-Identifier: MIT
#include <algorithm>
#include <array>
#include <vector>

#include "codec/base64_kernels.hpp"
#include "codec/base64_stream.hpp"
#include "codec/byte_order.hpp"
#include "codec/encoding.hpp"
#include "codec/fast_tables.hpp"
#include "codec/input_guard.hpp"

namespace ovk {
namespace {

constexpr uint8_t kPad = '=';
constexpr unsigned kPadValue = 64;

// Decodes one input in groups of four characters. Runs of groups of four alphabet digits go
// through the vector kernels or pre-shifted tables; every other group takes the exact path,
// which keeps what the decoder has always made of malformed input:
//  - a code from 234 to 255, or a place past the end of the input, leaves that place's value
//    as the previous group had it (0 before the first group);
//  - a code outside the alphabet has the value 255 and takes part in the formulas;
//  - an output byte whose value would exceed 255, or whose position lies past the output
//    length, is not written and keeps 0;
//  - "=" in the third or fourth place ends the decoding after that group.
// The output is sized but not cleared beforehand: every position is written exactly once,
// with 0 where the decoder has always left a position unwritten.
class GroupDecoder {
  public:
    GroupDecoder(std::span<const uint8_t> in, std::span<uint8_t> out,
                 std::span<const uint8_t, Encoding::kDecodeTableSize> table,
                 const Encoding::FastTables& fast, const codec_detail::Base64Kernels& kernels)
        : in_(in), out_(out), table_(table), fast_(fast), kernels_(kernels) {}

    void run() {
        const std::size_t groups = (in_.size() + 3) / 4;
        std::size_t g = 0;
        while (g < groups) {
            g += decodeDigitRun(g);
            // The kernel stopped at a block holding something else, or near the end; the
            // scalar code takes over for a while, then the kernel gets another chance.
            const std::size_t end = std::min(groups, g + kScalarStretch);
            if (!decodeScalar(g, end)) return;
            g = end;
        }
    }

  private:
    static constexpr std::size_t kScalarStretch = 64;

    // Groups that are complete and whose three bytes lie inside the output.
    std::size_t fastGroups() const { return std::min(in_.size() / 4, out_.size() / 3); }

    std::size_t decodeDigitRun(std::size_t g) {
        if (g >= fastGroups()) return 0;
        const std::size_t done = kernels_.decodeDigits(in_.data() + 4 * g, fastGroups() - g,
                                                       out_.data() + 3 * g, out_.size() - 3 * g);
        if (done > 0) previousWasFast_ = true;
        return done;
    }

    // Decodes groups [g, end); returns false when one of them ends the decoding.
    bool decodeScalar(std::size_t g, std::size_t end) {
        // Blocks store four bytes per group; the fourth is 0 and lands on the next group's
        // first byte, which must still lie inside the output and is written after.
        const std::size_t wideGroups =
            out_.empty() ? 0 : std::min({end, in_.size() / 4, (out_.size() - 1) / 3});
        const auto& place = fast_.decodePlace;
        while (g + 4 <= wideGroups) {
            const uint8_t* p = in_.data() + 4 * g;
            std::array<uint32_t, 4> bits;
            for (std::size_t k = 0; k < 4; ++k, p += 4) {
                bits[k] = place[0][p[0]] | place[1][p[1]] | place[2][p[2]] | place[3][p[3]];
            }
            const uint32_t all = bits[0] | bits[1] | bits[2] | bits[3];
            if ((all & Encoding::FastTables::kNeedsExactPath) == 0) {
                uint8_t* o = out_.data() + 3 * g;
                for (std::size_t k = 0; k < 4; ++k)
                    codec_detail::storeBigEndian32(o + 3 * k, bits[k] << 8);
                g += 4;
                previousWasFast_ = true;
                continue;
            }
            for (const std::size_t blockEnd = g + 4; g < blockEnd; ++g) {
                if (!decodeGroup(g)) return false;
            }
        }
        for (; g < end; ++g) {
            if (!decodeGroup(g)) return false;
        }
        return true;
    }

    // Returns false when the group ends the decoding.
    bool decodeGroup(std::size_t g) {
        if (g < fastGroups()) {
            const uint8_t* p = in_.data() + 4 * g;
            const auto& place = fast_.decodePlace;
            const uint32_t bits = place[0][p[0]] | place[1][p[1]] | place[2][p[2]] | place[3][p[3]];
            if ((bits & Encoding::FastTables::kNeedsExactPath) == 0) {
                uint8_t* o = out_.data() + 3 * g;
                o[0] = static_cast<uint8_t>(bits >> 16);
                o[1] = static_cast<uint8_t>(bits >> 8);
                o[2] = static_cast<uint8_t>(bits);
                previousWasFast_ = true;
                return true;
            }
        }
        return decodeGroupExactly(g);
    }

    bool decodeGroupExactly(std::size_t g) {
        const std::size_t n = in_.size();
        if (previousWasFast_) {
            // The fast paths keep no per-place values; the group before was four digits.
            for (std::size_t k = 0; k < 4; ++k) d_[k] = table_[in_[4 * (g - 1) + k]];
            previousWasFast_ = false;
        }
        for (std::size_t k = 0; k < 4; ++k) {
            const std::size_t at = 4 * g + k;
            if (at < n && in_[at] < table_.size()) d_[k] = table_[in_[at]];
        }
        const std::size_t at = 3 * g;
        const auto [d0, d1, d2, d3] = d_;
        const unsigned first = d0 * 4 | ((d1 >> 4) & 3);
        const unsigned second = ((d1 & 15) * 16) | ((d2 >> 2) & 15);
        const unsigned third = ((d2 & 3) * 64) | d3;
        if (d2 != kPadValue && d3 != kPadValue) {
            put(at, first);
            put(at + 1, second);
            put(at + 2, third);
            return true;
        }
        put(at, first);
        put(at + 1, d2 != kPadValue ? second : kUnwritten);
        if (at + 2 < out_.size())
            std::fill(out_.begin() + static_cast<std::ptrdiff_t>(at + 2), out_.end(), 0);
        return false;
    }

    // A value that does not fit a byte leaves the position as it was made: 0.
    static constexpr unsigned kUnwritten = 256;
    void put(std::size_t at, unsigned value) {
        if (at < out_.size()) out_[at] = value <= 255 ? static_cast<uint8_t>(value) : 0;
    }

    std::span<const uint8_t> in_;
    std::span<uint8_t> out_;
    std::span<const uint8_t, Encoding::kDecodeTableSize> table_;
    const Encoding::FastTables& fast_;
    const codec_detail::Base64Kernels& kernels_;
    std::array<unsigned, 4> d_{};
    bool previousWasFast_ = false;
};

std::size_t padCount(std::span<const uint8_t> in) {
    const std::size_t n = in.size();
    if (n == 0 || in[n - 1] != kPad) return 0;
    return n >= 2 && in[n - 2] == kPad ? 2 : 1;
}

// Works on both kinds of output vector: resize() of a ByteBuffer leaves the bytes unwritten,
// and the decoder writes every one of them.
template <class Bytes>
void decodeInto(std::span<const uint8_t> in, Bytes& out,
                std::span<const uint8_t, Encoding::kDecodeTableSize> table,
                const Encoding::FastTables& fast, const codec_detail::Base64Kernels& kernels) {
    std::vector<uint8_t> inputCopy;
    in = codec_detail::detachFromOutput(in, out, inputCopy);
    out.resize(codec_detail::decodedBase64Length(in.size(), padCount(in)));
    GroupDecoder(in, out, table, fast, kernels).run();
}

}  // namespace

// n / 4 * 3 - pad, rounded to the nearest whole number with halves to even, and never below
// zero. The fraction can only be a quarter, a half or three quarters.
std::size_t codec_detail::decodedBase64Length(std::size_t n, std::size_t pad) {
    const auto whole = static_cast<int64_t>(3 * n / 4) - static_cast<int64_t>(pad);
    const std::size_t quarters = 3 * n % 4;
    int64_t length = whole;
    if (quarters == 3 || (quarters == 2 && (whole & 1) != 0)) ++length;
    return length > 0 ? static_cast<std::size_t>(length) : 0;
}

void Encoding::DecodeB64(std::span<const uint8_t> ByteArrayIn,
                         std::vector<uint8_t>& ByteArrayOut) const {
    decodeInto(ByteArrayIn, ByteArrayOut, decodeTable_, *fast_, *kernels_);
}

void Encoding::DecodeB64(std::span<const uint8_t> ByteArrayIn, ByteBuffer& ByteArrayOut) const {
    decodeInto(ByteArrayIn, ByteArrayOut, decodeTable_, *fast_, *kernels_);
}

bool Encoding::DecodeB64Digits(std::span<const uint8_t> ByteArrayIn,
                               ByteBuffer& ByteArrayOut) const {
    if (ByteArrayIn.empty() || ByteArrayIn.size() % 4 != 0) return false;
    std::vector<uint8_t> inputCopy;
    const std::span<const uint8_t> in =
        codec_detail::detachFromOutput(ByteArrayIn, ByteArrayOut, inputCopy);
    const std::size_t pad = padCount(in);
    const std::size_t groups = in.size() / 4;
    const std::size_t whole = pad == 0 ? groups : groups - 1;
    ByteArrayOut.resize(3 * groups - pad);
    // The kernel stops at the first block holding anything but digits, or near the end; the
    // tables, which mark every other code, check and decode the groups from there.
    std::size_t g =
        kernels_->decodeDigits(in.data(), whole, ByteArrayOut.data(), ByteArrayOut.size());
    const auto& place = fast_->decodePlace;
    for (; g < whole; ++g) {
        const uint8_t* p = in.data() + 4 * g;
        const uint32_t bits = place[0][p[0]] | place[1][p[1]] | place[2][p[2]] | place[3][p[3]];
        if ((bits & FastTables::kNeedsExactPath) != 0) return false;
        uint8_t* o = ByteArrayOut.data() + 3 * g;
        o[0] = static_cast<uint8_t>(bits >> 16);
        o[1] = static_cast<uint8_t>(bits >> 8);
        o[2] = static_cast<uint8_t>(bits);
    }
    if (pad == 0) return true;
    // The last group: two or three digits, then "=" to its end.
    const uint8_t* p = in.data() + 4 * whole;
    const uint32_t bits = place[0][p[0]] | place[1][p[1]] | (pad == 1 ? place[2][p[2]] : 0u);
    if ((bits & FastTables::kNeedsExactPath) != 0) return false;
    uint8_t* o = ByteArrayOut.data() + 3 * whole;
    o[0] = static_cast<uint8_t>(bits >> 16);
    if (pad == 1) o[1] = static_cast<uint8_t>(bits >> 8);
    return true;
}

}  // namespace ovk
