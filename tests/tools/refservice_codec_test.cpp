// SPDX-License-Identifier: MIT
// The service's own encoders and key parsing, checked without a running service.

#include <gtest/gtest.h>

#include <string>

#include "base64.hpp"
#include "natural_order.hpp"
#include "node_key.hpp"
#include "xml_text.hpp"

namespace ovk::refservice {
namespace {

TEST(RefServiceBase64, EncodesEveryByteValueAndEveryPaddingLengthReversibly) {
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    for (std::size_t length : {0u, 1u, 2u, 3u, 4u, 255u, 256u}) {
        std::string encoded;
        appendBase64(encoded, all.substr(0, length));
        EXPECT_EQ(encoded.size(), base64Length(length));
        EXPECT_EQ(decodeBase64(encoded), all.substr(0, length));
    }
    std::string known;
    appendBase64(known, "Ma");
    EXPECT_EQ(known, "TWE=");
}

TEST(RefServiceBase64, DecoderSkipsLineBreaksAndRefusesForeignCharactersAndCutGroups) {
    EXPECT_EQ(decodeBase64("TW\r\nE="), "Ma");
    EXPECT_FALSE(decodeBase64("TW!="));
    EXPECT_FALSE(decodeBase64("TWE"));
    EXPECT_FALSE(decodeBase64("T==="));
    EXPECT_FALSE(decodeBase64("TWE=TWE="));
}

TEST(RefServiceNodeKey, SplitsLevelsButNotSeparatorsInsideValues) {
    std::string error;
    const auto levels = parseNodeKey("0{}Catalog||3{}A||B{}C||12{}x{}y", error);
    ASSERT_TRUE(levels) << error;
    ASSERT_EQ(levels->size(), 2u);
    EXPECT_EQ((*levels)[0].fieldId, 3);
    EXPECT_EQ((*levels)[0].value, "A||B{}C");
    EXPECT_EQ((*levels)[1].fieldId, 12);
    EXPECT_EQ((*levels)[1].value, "x{}y");
    EXPECT_TRUE(parseNodeKey("0{}Catalog", error)->empty());
    EXPECT_FALSE(parseNodeKey("Catalog", error));
}

TEST(RefServiceNodeKey, DecodesWindows1252Bytes) {
    std::string encoded;
    appendBase64(encoded, std::string("0{}C||3{}S\xF6hne \x80"));
    std::string error;
    const auto levels = decodeNodeKey(encoded, error);
    ASSERT_TRUE(levels) << error;
    EXPECT_EQ(levels->at(0).value, "Söhne €");
}

TEST(RefServiceNaturalOrder, NumbersByValueLettersWithoutCaseAndNoTwoTextsEqual) {
    EXPECT_TRUE(naturalLess("2 kW", "10 kW"));
    EXPECT_FALSE(naturalLess("10 kW", "2 kW"));
    EXPECT_TRUE(naturalLess("apple", "Banana"));
    EXPECT_TRUE(naturalLess("A", "a") != naturalLess("a", "A"));
    EXPECT_TRUE(naturalLess("01", "1") != naturalLess("1", "01"));
    EXPECT_FALSE(naturalLess("same", "same"));
}

TEST(RefServiceXmlText, EscapesMarkupAndSplitsTheCDataTerminator) {
    std::string out;
    appendAttribute(out, "V", "<a & \"b\"\n>");
    EXPECT_EQ(out, " V=\"&lt;a &amp; &quot;b&quot;&#10;&gt;\"");
    out.clear();
    appendCData(out, "x]]>y");
    EXPECT_EQ(out, "<![CDATA[x]]]]><![CDATA[>y]]>");
    out.clear();
    appendText(out, std::string("a\x01"
                                "b",
                                3));
    EXPECT_EQ(out, "ab");
}

}  // namespace
}  // namespace ovk::refservice
