// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "bytes.hpp"
#include "codec/encoding.hpp"

namespace ovk {
namespace {

using test::bytes;

std::vector<uint8_t> decode(std::string_view base64) {
    const Encoding encoding;
    std::vector<uint8_t> out = bytes("stale content that must go");
    encoding.DecodeB64(bytes(base64), out);
    return out;
}

std::vector<uint8_t> bytesOf(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

TEST(DecodeB64, DecodesWellFormedText) {
    EXPECT_EQ(decode("YWJj"), bytes("abc"));
    EXPECT_EQ(decode("YQ=="), bytes("a"));
    EXPECT_EQ(decode("YWI="), bytes("ab"));
    EXPECT_EQ(decode("Zm9vYmFy"), bytes("foobar"));
    EXPECT_EQ(decode(""), bytes(""));
}

TEST(DecodeB64, OutputLengthRoundsHalvesToEven) {
    // 10 characters: 7.5 bytes round up to 8; the last, short group contributes two.
    EXPECT_EQ(decode("YWJjYWJjYQ"), bytesOf({'a', 'b', 'c', 'a', 'b', 'c', 'a', 2}));
    // 6 characters: 4.5 bytes round down to 4.
    EXPECT_EQ(decode("YWJjYQ"), bytes("abca"));
    // A lone padding character: 0.75 - 1 rounds to an empty output.
    EXPECT_EQ(decode("="), bytes(""));
    EXPECT_EQ(decode("=="), bytes(""));
}

TEST(DecodeB64, StopsAtTheFirstGroupWithPaddingInItsThirdOrFourthPlace) {
    // The output keeps the length the whole input asks for; the rest stays 0.
    EXPECT_EQ(decode("YQ==YWJj"), bytesOf({'a', 0, 0, 0, 0, 0}));
    EXPECT_EQ(decode("YWI=YWJj"), bytesOf({'a', 'b', 0, 0, 0, 0}));
    // Padding in the third place ends the group after one byte, whatever the fourth holds.
    EXPECT_EQ(decode("YQ=j"), bytesOf({'a', 0, 0}));
    // Padding in the first two places does not end anything.
    EXPECT_EQ(decode("=WJj"), bytesOf({0, 'b', 'c'}));
}

TEST(DecodeB64, CharactersOutsideTheAlphabetTakeTheValue255) {
    // In the first place the first byte would exceed 255 and stays unwritten.
    EXPECT_EQ(decode("-WJj"), bytesOf({0, 'b', 'c'}));
    // In the last place it fills the low bits of the third byte.
    EXPECT_EQ(decode("YWJ-"), bytesOf({'a', 'b', 255}));
    EXPECT_EQ(decode("YW\x01j"), bytesOf({'a', 0x6F, 0xE3}));
}

TEST(DecodeB64, CodesWithoutTableEntryKeepThePreviousGroupsValue) {
    // First group: the place keeps its initial 0.
    EXPECT_EQ(decode("\xEAWJj"), bytesOf({1, 'b', 'c'}));
    // Later groups: the place keeps what the group before held ('Y' in "YWJj").
    EXPECT_EQ(decode("YWJj\xFFWJj"), bytes("abcabc"));
    EXPECT_EQ(decode("YWJjYW\xF0\xFF"), bytes("abcabc"));
    // Within a long well-formed run, too.
    EXPECT_EQ(decode("YWJjYWJjYWJjYWJjYWJjYWJjYWJj\xFFWJjYWJjYWJj"),
              bytes("abcabcabcabcabcabcabcabcabcabc"));
}

TEST(DecodeB64, MissingPlacesOfAShortLastGroupKeepThePreviousGroupsValue) {
    // Five characters ask for four bytes; the fifth group's second place is missing and keeps
    // the 'W' of "YWJj", whose high bits complete the 'a'.
    EXPECT_EQ(decode("YWJjY"), bytes("abca"));
    EXPECT_EQ(decode("YQ"), bytesOf({'a', 0}));
}

TEST(DecodeB64, NeverWritesPastTheOutputLength) {
    // Padding at the end shortens the output even though the first groups hold more bytes.
    EXPECT_EQ(decode("YWJjYWJj=="), bytesOf({'a', 'b', 'c', 'a', 'b', 'c'}));
    // Six characters with two padding characters ask for 2.5 bytes, which round to 2.
    EXPECT_EQ(decode("YWJj=="), bytes("ab"));
}

}  // namespace
}  // namespace ovk
