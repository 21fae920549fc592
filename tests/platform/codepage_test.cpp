#include <gtest/gtest.h>

#include "platform/codepage.hpp"

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
