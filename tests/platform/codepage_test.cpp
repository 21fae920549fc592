// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "platform/codepage.hpp"
#include "platform/text.hpp"

namespace ovk {
namespace {

TEST(Codepage, ConvertsToAndFromWindows1252) {
    EXPECT_EQ(toAnsi("abc"), "abc");
    EXPECT_EQ(toAnsi("Gr\xC3\xBC\xC3\x9F"
                     "e \xE2\x82\xAC"),
              "Gr\xFC\xDF"
              "e \x80");
    EXPECT_EQ(fromAnsi("Gr\xFC\xDF"
                       "e \x80"),
              "Gr\xC3\xBC\xC3\x9F"
              "e \xE2\x82\xAC");
    EXPECT_EQ(toAnsi(""), "");
}

TEST(Codepage, CharactersWithoutAWindows1252FormBecomeQuestionMarks) {
    EXPECT_EQ(toAnsi("a\xE2\x98\x83z"), "a?z");  // a snowman
    EXPECT_EQ(toAnsi("\xF0\x9F\x98\x80"), "?");  // a four-byte character
    EXPECT_EQ(toAnsi("a\xFF"
                     "b"),
              "a?b");                  // not UTF-8 at all
    EXPECT_EQ(toAnsi("a\xC3"), "a?");  // cut off at the end
}

TEST(Codepage, EveryByteSurvivesARoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    EXPECT_EQ(toAnsi(fromAnsi(all)), all);
}

}  // namespace
}  // namespace ovk

namespace ovk {
namespace {

// Texts shown to the host are cut short without splitting a character, whatever its width.
TEST(BoundedText, CutsLongTextsAtACharacterBoundaryWithAnEllipsis) {
    for (const std::string unit : {"a", "\xC3\xA4", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
        SCOPED_TRACE(unit.size());
        std::string text;
        while (text.size() < 5000) text += unit;
        const std::string cut = boundedText(text);
        EXPECT_LE(cut.size(), kMaxReportedText + 3);
        EXPECT_EQ(cut.substr(cut.size() - 3), "\xE2\x80\xA6");
        EXPECT_EQ((cut.size() - 3) % unit.size(), 0u);
        EXPECT_EQ(text.compare(0, cut.size() - 3, cut, 0, cut.size() - 3), 0);
        EXPECT_EQ(boundedText(text.substr(0, kMaxReportedText)), text.substr(0, kMaxReportedText));
    }
}

}  // namespace
}  // namespace ovk
