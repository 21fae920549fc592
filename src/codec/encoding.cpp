// SPDX-License-Identifier: MIT
#include "codec/encoding.hpp"

#include <algorithm>
#include <charconv>
#include <string>

#include "codec/ascii_bytes.hpp"
#include "codec/base64_kernels.hpp"
#include "codec/fast_tables.hpp"
#include "platform/codepage.hpp"
#include "platform/errors.hpp"

namespace ovk {
namespace {

// The decode table as decimal texts, one per character code from 0 to 233; the codes above
// have no entry, which decoding depends on.
constexpr std::array<std::string_view, Encoding::kDecodeTableSize> kDecodeTableTexts = {
    "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255",
    "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255",
    "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255",
    "255", "255", "255", "255", "62",  "255", "255", "255", "63",  "52",  "53",  "54",  "55",
    "56",  "57",  "58",  "59",  "60",  "61",  "255", "255", "255", "64",  "255", "255", "255",
    "0",   "1",   "2",   "3",   "4",   "5",   "6",   "7",   "8",   "9",   "10",  "11",  "12",
    "13",  "14",  "15",  "16",  "17",  "18",  "19",  "20",  "21",  "22",  "23",  "24",  "25",
    "255", "255", "255", "255", "255", "255", "26",  "27",  "28",  "29",  "30",  "31",  "32",
    "33",  "34",  "35",  "36",  "37",  "38",  "39",  "40",  "41",  "42",  "43",  "44",  "45",
    "46",  "47",  "48",  "49",  "50",  "51",  "255", "255", "255", "255", "255", "255", "255",
    "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255",
    "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255",
    "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255",
    "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255",
    "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255",
    "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255",
    "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255",
    "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255", "255",
};

static_assert(std::ranges::none_of(kDecodeTableTexts, [](std::string_view t) { return t.empty(); }),
              "the decode table needs a text for every code from 0 to 233");

uint8_t toByte(std::string_view text) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > 255) {
        throw Error(err::Overflow, "Not a byte value: " + std::string(text));
    }
    return static_cast<uint8_t>(value);
}

using codec_detail::asBytes;
using codec_detail::isAscii;

// Rounds numerator / denominator to the nearest whole number, halves to even, as the
// component's floating-point length computations always did.
std::size_t roundHalfEven(std::size_t numerator, std::size_t denominator) {
    const std::size_t quotient = numerator / denominator;
    const std::size_t twiceRemainder = 2 * (numerator % denominator);
    if (twiceRemainder > denominator) return quotient + 1;
    if (twiceRemainder == denominator) return quotient + (quotient & 1);
    return quotient;
}

}  // namespace

Encoding::FastTables::FastTables(std::span<const uint8_t, kEncodeTableSize> encode,
                                 std::span<const uint8_t, kDecodeTableSize> decode) {
    for (unsigned value = 0; value < 4096; ++value) {
        encodePairs[value] = {encode[value >> 6], encode[value & 63]};
    }
    for (auto& place : decodePlace) place.fill(kNeedsExactPath);
    for (std::size_t code = 0; code < decode.size(); ++code) {
        const uint32_t digit = decode[code];
        if (digit >= 64) continue;
        decodePlace[0][code] = digit << 18;
        decodePlace[1][code] = digit << 12;
        decodePlace[2][code] = digit << 6;
        decodePlace[3][code] = digit;
    }
}

Encoding::Encoding() : Encoding(codec_detail::fastestBase64Kernels()) {}

Encoding::Encoding(const codec_detail::Base64Kernels& kernels) : kernels_(&kernels) {
    for (int code = 65; code <= 90; ++code) encodeTable_[code - 65] = static_cast<uint8_t>(code);
    for (int code = 97; code <= 122; ++code) encodeTable_[code - 71] = static_cast<uint8_t>(code);
    for (int value = 0; value <= 9; ++value) {
        encodeTable_[value + 52] = static_cast<uint8_t>(value + 48);
    }
    encodeTable_[62] = 43;
    encodeTable_[63] = 47;

    for (std::size_t code = 0; code < kDecodeTableSize; ++code) {
        decodeTable_[code] = toByte(kDecodeTableTexts[code]);
    }
    fast_ = std::make_unique<const FastTables>(encodeTable_, decodeTable_);
}

Encoding::~Encoding() = default;
Encoding::Encoding(Encoding&&) noexcept = default;
Encoding& Encoding::operator=(Encoding&&) noexcept = default;

void Encoding::Str2ByteArray(std::string_view StringIn, std::vector<uint8_t>& ByteArray) const {
    // Base64 payloads are plain ASCII and can be tens of megabytes; they need no conversion.
    if (isAscii(asBytes(StringIn))) {
        ByteArray.assign(StringIn.begin(), StringIn.end());
        return;
    }
    const std::string ansi = toAnsi(StringIn);
    ByteArray.assign(ansi.begin(), ansi.end());
}

void Encoding::ByteArryToString(std::span<const uint8_t> ByteArray, std::string& StringOut) const {
    const std::string_view bytes(reinterpret_cast<const char*>(ByteArray.data()), ByteArray.size());
    if (isAscii(ByteArray)) {
        StringOut.assign(bytes);
        return;
    }
    StringOut = fromAnsi(bytes);
}

void Encoding::Span(int32_t CharsPerLine, std::span<const uint8_t> ByteArrayIn,
                    std::vector<uint8_t>& ByteArrayOut) const {
    if (CharsPerLine <= 0) {
        throw Error(err::InvalidArgument,
                    "Span needs a positive number of characters per line, not " +
                        std::to_string(CharsPerLine),
                    "Span");
    }
    const std::size_t n = ByteArrayIn.size();
    const auto perLine = static_cast<std::size_t>(CharsPerLine);
    const std::size_t lineBreaks = roundHalfEven(n + n % perLine, perLine);
    std::vector<uint8_t> out(n + 2 * lineBreaks, 0);

    std::size_t from = 0;
    std::size_t to = 0;
    while (from < n && to < out.size()) {
        const std::size_t take = std::min({perLine, n - from, out.size() - to});
        std::copy_n(ByteArrayIn.begin() + static_cast<std::ptrdiff_t>(from), take,
                    out.begin() + static_cast<std::ptrdiff_t>(to));
        from += take;
        to += take;
        if (take < perLine) break;
        for (const uint8_t lineBreak : {uint8_t{13}, uint8_t{10}}) {
            if (to < out.size()) out[to++] = lineBreak;
        }
    }
    ByteArrayOut = std::move(out);
}

void Encoding::Unspan(std::span<const uint8_t> ByteArrayIn,
                      std::vector<uint8_t>& ByteArrayOut) const {
    // Windows-1252 is a single-byte code page in which CR and LF are themselves, so taking the
    // pairs out of the bytes is the same as taking them out of the converted text, and the
    // five byte values the code page leaves undefined cannot get lost on the way.
    std::vector<uint8_t> out;
    out.reserve(ByteArrayIn.size());
    for (std::size_t i = 0; i < ByteArrayIn.size(); ++i) {
        if (ByteArrayIn[i] == 13 && i + 1 < ByteArrayIn.size() && ByteArrayIn[i + 1] == 10) {
            ++i;
            continue;
        }
        out.push_back(ByteArrayIn[i]);
    }
    ByteArrayOut = std::move(out);
}

}  // namespace ovk
