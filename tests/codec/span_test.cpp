// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "bytes.hpp"
#include "codec/encoding.hpp"
#include "platform/errors.hpp"

namespace ovk {
namespace {

using test::bytes;

std::vector<uint8_t> span(int32_t charsPerLine, std::string_view input) {
    const Encoding encoding;
    std::vector<uint8_t> out;
    encoding.Span(charsPerLine, bytes(input), out);
    return out;
}

std::vector<uint8_t> unspan(std::string_view input) {
    const Encoding encoding;
    std::vector<uint8_t> out;
    encoding.Unspan(bytes(input), out);
    return out;
}

TEST(Span, BreaksCompleteLinesWithCrLf) {
    EXPECT_EQ(span(4, "ABCDEFGH"), bytes("ABCD\r\nEFGH\r\n"));
    EXPECT_EQ(span(4, "ABCDEF"), bytes(std::string_view("ABCD\r\nEF\0\0", 10)));
    EXPECT_EQ(span(10, "AB"), bytes("AB"));
    EXPECT_EQ(span(4, ""), bytes(""));
}

TEST(Span, LineCountRoundsHalvesToEven) {
    // (9 + 1) / 4 = 2.5 line breaks round to 2: the output holds exactly the two breaks.
    EXPECT_EQ(span(4, "ABCDEFGHI"), bytes("ABCD\r\nEFGH\r\nI"));
    // (7 + 1) / 3 = 2.67 round to 3: one break more than written, left as two 0 bytes.
    EXPECT_EQ(span(3, "ABCDEFG"), bytes(std::string_view("ABC\r\nDEF\r\nG\0\0", 13)));
}

TEST(Span, RefusesLinesOfNoOrNegativeLength) {
    const Encoding encoding;
    std::vector<uint8_t> out;
    for (const int32_t charsPerLine : {0, -4}) {
        try {
            encoding.Span(charsPerLine, bytes("ABCD"), out);
            FAIL() << "Span accepted " << charsPerLine << " characters per line";
        } catch (const Error& e) {
            EXPECT_EQ(e.number, err::InvalidArgument);
        }
    }
}

TEST(Unspan, RemovesCrLfPairsOnly) {
    EXPECT_EQ(unspan("AB\r\nCD"), bytes("ABCD"));
    EXPECT_EQ(unspan("AB\nCD"), bytes("AB\nCD"));
    EXPECT_EQ(unspan("AB\rCD\n"), bytes("AB\rCD\n"));
    // One pass: a pair that only forms after a removal stays.
    EXPECT_EQ(unspan("\r\r\n\n"), bytes("\r\n"));
    EXPECT_EQ(unspan(""), bytes(""));
}

TEST(Unspan, KeepsEveryOtherByteValue) {
    std::vector<uint8_t> all;
    for (int b = 0; b < 256; ++b) {
        if (b != '\r') all.push_back(static_cast<uint8_t>(b));
    }
    const Encoding encoding;
    std::vector<uint8_t> out;
    encoding.Unspan(all, out);
    EXPECT_EQ(out, all);
}

TEST(Span, UnspanRestoresWhatSpanBroke) {
    const Encoding encoding;
    const std::vector<uint8_t> text = bytes("QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo=");
    for (int32_t perLine : {1, 4, 7, 76}) {
        std::vector<uint8_t> lines;
        encoding.Span(perLine, text, lines);
        std::vector<uint8_t> joined;
        encoding.Unspan(lines, joined);
        while (!joined.empty() && joined.back() == 0) joined.pop_back();
        EXPECT_EQ(joined, text) << perLine << " characters per line";
    }
}

}  // namespace
}  // namespace ovk
