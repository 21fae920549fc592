#include <gtest/gtest.h>

#include "platform/soap/reply_parser.hpp"
#include "platform/xml/document.hpp"

namespace ovk::soap {
namespace {

xml::Document parseInPieces(const std::string& text, std::size_t piece) {
    ReplyParser parser;
    for (std::size_t at = 0; at < text.size(); at += piece) {
        if (!parser.feed(text.data() + at, std::min(piece, text.size() - at))) break;
    }
    return parser.finish();
}

std::string failureOf(const std::string& text, std::size_t piece = 7) {
    try {
        parseInPieces(text, piece);
    } catch (const xml::ParseError& e) {
        return e.failure.reason;
    }
    return "no failure";
}

TEST(SoapReplyParser, PiecesOfAnySizeGiveTheSameTree) {
    const std::string text =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<r a=\"1\" b='&lt;2&gt;'><!-- note -->"
        "<x><![CDATA[line 1\r\nline 2 <not a tag> ]] ]]><![CDATA[second]]></x>"
        "text &amp; more<?pi data?><y/>Grüße 😀<![CDATA[]]></r>";
    const std::string whole = parseInPieces(text, text.size()).toString();
    EXPECT_NE(whole.find("<![CDATA[line 1"), std::string::npos);
    for (std::size_t piece : {1, 2, 3, 5, 300, 301, 1024}) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(parseInPieces(text, piece).toString(), whole);
    }
}

TEST(SoapReplyParser, LargeCdataSectionArrivesWhole) {
    std::string payload;
    payload.reserve(6 << 20);
    for (std::size_t i = 0; payload.size() < (6u << 20); ++i) {
        payload +=
            "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0NTY3ODk="
            "\n";
    }
    const std::string text =
        "<root><Document Name=\"a.pdf\"><![CDATA[" + payload + "]]></Document>tail</root>";
    const xml::Document doc = parseInPieces(text, 16384);
    const xml::Node document = doc.root().firstChild();
    const auto children = document.children();
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(children[0].kind(), xml::NodeKind::CData);
    EXPECT_EQ(children[0].text(), payload);
    EXPECT_EQ(document.nextSibling().text(), "tail");
}

TEST(SoapReplyParser, DoctypeAndEntityTricksAreRefused) {
    EXPECT_EQ(failureOf("<!DOCTYPE r [<!ENTITY e \"boom\">]><r>&e;</r>"),
              "A DOCTYPE is not allowed in a service reply");
    EXPECT_EQ(failureOf("<!DOCTYPE r SYSTEM \"file:///etc/passwd\"><r/>"),
              "A DOCTYPE is not allowed in a service reply");
    EXPECT_NE(failureOf("<r>&undeclared;</r>"), "no failure");
}

TEST(SoapReplyParser, IncompleteOrBrokenTextFails) {
    EXPECT_NE(failureOf("<r><a>unfinished</a>"), "no failure");
    EXPECT_NE(failureOf("<r><a></b></r>"), "no failure");
    EXPECT_NE(failureOf("<r><![CDATA[never closed</r>"), "no failure");
    EXPECT_NE(failureOf("<r/><second/>"), "no failure");
    EXPECT_NE(failureOf(""), "no failure");
    EXPECT_NE(failureOf("<p:r/>"), "no failure");  // an undeclared prefix
}

}  // namespace
}  // namespace ovk::soap
