// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "bytes.hpp"
#include "codec/encoding.hpp"

namespace ovk {
namespace {

using test::bytes;

TEST(EncodingTables, DecodeTableCoversCodesUpTo233Only) {
    const Encoding encoding;
    const auto table = encoding.decodeTable();
    EXPECT_EQ(table.size(), 234u);
    EXPECT_EQ(table[0], 255);
    EXPECT_EQ(table['-'], 255);
    EXPECT_EQ(table['='], 64);
    EXPECT_EQ(table['+'], 62);
    EXPECT_EQ(table['/'], 63);
    EXPECT_EQ(table[233], 255);
}

TEST(EncodingTables, EveryDigitDecodesToItsOwnValue) {
    const Encoding encoding;
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    int digits = 0;
    for (std::size_t code = 0; code < Encoding::kDecodeTableSize; ++code) {
        if (encoding.decodeTable()[code] < 64) ++digits;
    }
    EXPECT_EQ(digits, 64);
    for (std::size_t value = 0; value < 64; ++value) {
        EXPECT_EQ(encoding.encodeTable()[value], static_cast<uint8_t>(alphabet[value]));
        EXPECT_EQ(encoding.decodeTable()[encoding.encodeTable()[value]], value);
    }
}

TEST(EncodingStrings, ConvertThroughWindows1252) {
    const Encoding encoding;
    std::vector<uint8_t> out;
    encoding.Str2ByteArray("", out);
    EXPECT_TRUE(out.empty());
    encoding.Str2ByteArray("Größe 5 €", out);
    EXPECT_EQ(out, (std::vector<uint8_t>{'G', 'r', 0xF6, 0xDF, 'e', ' ', '5', ' ', 0x80}));
    encoding.Str2ByteArray("\xE2\x9C\x93", out);  // a check mark has no Windows-1252 form
    EXPECT_EQ(out, bytes("?"));

    std::string back;
    encoding.ByteArryToString(std::vector<uint8_t>{'G', 'r', 0xF6, 0xDF, 'e', 0x80}, back);
    EXPECT_EQ(back, "Größe€");
    encoding.ByteArryToString({}, back);
    EXPECT_EQ(back, "");
}

}  // namespace
}  // namespace ovk
