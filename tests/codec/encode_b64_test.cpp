// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <random>

#include "bytes.hpp"
#include "codec/encoding.hpp"
#include "platform/errors.hpp"

namespace ovk {
namespace {

using test::bytes;
using test::text;

std::string encode(const Encoding& encoding, std::string_view input) {
    std::vector<uint8_t> out;
    encoding.EncodeB64(bytes(input), out);
    return text(out);
}

TEST(EncodeB64, PadsTheLastGroupWithEqualsSigns) {
    const Encoding encoding;
    EXPECT_EQ(encode(encoding, "abc"), "YWJj");
    EXPECT_EQ(encode(encoding, "a"), "YQ==");
    EXPECT_EQ(encode(encoding, "ab"), "YWI=");
    EXPECT_EQ(encode(encoding, "foob"), "Zm9vYg==");
    EXPECT_EQ(encode(encoding, "fooba"), "Zm9vYmE=");
    EXPECT_EQ(encode(encoding, "foobar"), "Zm9vYmFy");
}

TEST(EncodeB64, EmptyInputFailsAndLeavesTheOutputAlone) {
    const Encoding encoding;
    std::vector<uint8_t> out = bytes("kept");
    try {
        encoding.EncodeB64({}, out);
        FAIL() << "encoding nothing must fail";
    } catch (const Error& e) {
        EXPECT_EQ(e.number, err::OutOfRange);
    }
    EXPECT_EQ(text(out), "kept");
}

// Written for clarity, one character at a time, to check the table-driven encoder against.
std::string referenceEncode(const std::vector<uint8_t>& in) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < in.size(); i += 3) {
        const std::size_t left = in.size() - i;
        const unsigned b0 = in[i];
        const unsigned b1 = left > 1 ? in[i + 1] : 0;
        const unsigned b2 = left > 2 ? in[i + 2] : 0;
        out += alphabet[b0 >> 2];
        out += alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        out += left > 1 ? alphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
        out += left > 2 ? alphabet[b2 & 63] : '=';
    }
    return out;
}

TEST(EncodeB64, MatchesAPlainEncoderAndRoundTripsAtEveryLength) {
    const Encoding encoding;
    std::mt19937 random(4711);
    for (std::size_t length = 1; length < 300; ++length) {
        std::vector<uint8_t> input(length);
        for (auto& b : input) b = static_cast<uint8_t>(random());
        std::vector<uint8_t> encoded;
        encoding.EncodeB64(input, encoded);
        ASSERT_EQ(text(encoded), referenceEncode(input)) << "length " << length;
        std::vector<uint8_t> decoded;
        encoding.DecodeB64(encoded, decoded);
        ASSERT_EQ(decoded, input) << "length " << length;
    }
}

TEST(EncodeB64, InputAndOutputMayBeTheSameVector) {
    const Encoding encoding;
    std::vector<uint8_t> data = bytes("foobar, and some more bytes to cover the wide path");
    const std::string expected = referenceEncode(data);
    encoding.EncodeB64(data, data);
    EXPECT_EQ(text(data), expected);
    encoding.DecodeB64(data, data);
    EXPECT_EQ(text(data), "foobar, and some more bytes to cover the wide path");
}

}  // namespace
}  // namespace ovk
