// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/errors.hpp"

#include <libxml/tree.h>

#include "soap/reply_parser.hpp"
#include "soap/small_reply.hpp"
#include "xml/document.hpp"

namespace ovk::soap {
namespace {

xml::Document parseInPieces(const std::string& text, std::size_t piece, ReplyLimits limits = {},
                            std::uint64_t announced = 0) {
    ReplyParser parser(limits);
    if (announced > 0) parser.expect(announced);
    for (std::size_t at = 0; at < text.size(); at += piece) {
        if (!parser.feed(text.data() + at, std::min(piece, text.size() - at))) break;
    }
    return parser.finish();
}

std::string failureOf(const std::string& text, std::size_t piece = 7, ReplyLimits limits = {}) {
    try {
        parseInPieces(text, piece, limits);
    } catch (const xml::ParseError& e) {
        return e.failure.reason;
    } catch (const Error& e) {
        return std::to_string(e.number) + " " + e.description;
    }
    return "no failure";
}

std::string repeated(std::string_view unit, std::size_t times) {
    std::string text;
    text.reserve(unit.size() * times);
    for (std::size_t i = 0; i < times; ++i) text += unit;
    return text;
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

TEST(SoapReplyParser, RepliesInOtherEncodingsReadAsUtf8) {
    const std::string latin1 =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<r>Gr\xFC\xDF"
        "e " +
        std::string(200000, 'x') + " \xE9</r>";
    const std::string text = parseInPieces(latin1, 4096).root().text();
    EXPECT_EQ(text.substr(0, 7),
              "Gr\xC3\xBC\xC3\x9F"
              "e");
    EXPECT_EQ(text.substr(text.size() - 3), " \xC3\xA9");
    EXPECT_EQ(text.size(), 200000u + 11u);
    const std::string utf16 = std::string("\xFF\xFE<\0r\0>\0\xFC\0<\0/\0r\0>\0", 18);
    EXPECT_EQ(parseInPieces(utf16, 5).root().text(), "\xC3\xBC");
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

TEST(SoapReplyParser, LargeTextsReadTheSameInEveryEncodingAndArrangement) {
    // Large texts stay where they lie in the body rather than being copied, unless the body
    // has to be converted; each arrangement must read as its small twin does.
    const std::string big = repeated("QUJD", 40000);
    const std::string other = repeated("ZGVm", 30000);
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> expected;  // the texts of the root's children, in order
    };
    const std::vector<Case> cases = {
        {"one section", "<r><d><![CDATA[" + big + "]]></d>tail</r>", {big, "tail"}},
        {"two adjacent sections",
         "<r><d><![CDATA[" + big + "]]><![CDATA[" + other + "]]></d></r>",
         {big + other}},
        {"two large texts",
         "<r><d><![CDATA[" + big + "]]></d><e><![CDATA[" + other + "]]></e></r>",
         {big, other}},
        {"declared UTF-8 with a byte order mark",
         "\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8'?><r><d><![CDATA[" + big + "]]></d></r>",
         {big}},
        {"declared Latin-1",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r><d><![CDATA[\xFC" + big + "]]></d></r>",
         {"\xC3\xBC" + big}},
        {"sections large and small among comments and instructions",
         "<r><!-- <![CDATA[ --><?pi <![CDATA[ ?><d><![CDATA[" + big +
             "]]></d><e><![CDATA[a]]b]]>"
             "</e><f><![CDATA[" +
             other + "]]]></f><g><![CDATA[" + big + "]]></g></r>",
         {" <![CDATA[ ", "<![CDATA[ ", big, "a]]b", other + "]", big}},
        {"a large section with line ends and a tab",
         "<r><d><![CDATA[\t" + big + "\r\n" + other + "\n]]></d></r>",
         {"\t" + big + "\r\n" + other + "\n"}},
        {"a large section holding other characters",
         "<r><d><![CDATA[" + big + "\xC3\xBC" + other + "]]></d></r>",
         {big + "\xC3\xBC" + other}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // In one piece every section is read in place; in network-sized pieces large ones are
        // set apart. Both must build the same nodes.
        EXPECT_EQ(parseInPieces(c.text, 16384).toString(),
                  parseInPieces(c.text, c.text.size()).toString());
        // The announced length is only a hint: none, the right one, or far off either way.
        for (std::uint64_t announced : {std::uint64_t{0}, std::uint64_t{c.text.size()},
                                        std::uint64_t{10}, std::uint64_t{c.text.size() * 3}}) {
            for (std::size_t piece : {std::size_t{1000}, std::size_t{16384}, c.text.size()}) {
                const xml::Document doc = parseInPieces(c.text, piece, {}, announced);
                std::vector<std::string> texts;
                for (const xml::Node& child : doc.root().children()) texts.push_back(child.text());
                EXPECT_TRUE(texts == c.expected) << announced << " " << piece;
            }
        }
    }
}

TEST(SoapReplyParser, AMalformedReplyWithALargeSectionFailsWhereItIsMalformed) {
    // The large section is read apart from the rest; a failure must still name the place in
    // the reply as it was sent.
    const std::string section = "<![CDATA[" + std::string(100000, 'A') + "]]>";
    for (const std::string& text :
         {"<r><d>" + section + "</d><x></r>", "<r><d>" + section + "</d></r><!-- never closed",
          "<r><?pi " + section + " ?><d>" + section + "</e></r>",
          "<r><d>\n" + section + section + "</d></r><b>"}) {
        SCOPED_TRACE(text.substr(text.size() - 20));
        // In network-sized pieces the sections are set apart; in one piece they are not.
        std::vector<std::pair<long, long>> places;
        for (std::size_t piece : {std::size_t{16384}, text.size()}) {
            try {
                parseInPieces(text, piece);
                ADD_FAILURE() << "accepted";
            } catch (const xml::ParseError& e) {
                EXPECT_GT(e.failure.position, 100000) << e.failure.reason;
                places.emplace_back(e.failure.line, e.failure.position);
            }
        }
        EXPECT_EQ(places.front(), places.back());
    }
}

// Each thread reads its replies with one parser context, kept from reply to reply: what a reply
// gives (tree or failure) must not depend on what the context read before, nor a document on
// the replies read after it.
TEST(SoapReplyParser, EveryReplyReadsAsIfItWereTheFirst) {
    const std::string large = repeated("QUJD", 1 << 15);
    std::string attributes;
    for (int i = 0; i < 400; ++i) attributes += " a" + std::to_string(i) + "=''";
    const std::vector<std::string> replies = {
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><p:r xmlns:p=\"urn:a\" p:x=\"1\">"
        "<p:a xml:space=\"preserve\"> Gr\xC3\xBC\xC3\x9F"
        "e </p:a><![CDATA[c]]><!-- n --><?pi d?></p:r>",
        "\xEF\xBB\xBF<r><a>bom</a></r>",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>Gr\xFC\xDF"
        "e</r>",
        std::string("\xFF\xFE<\0r\0>\0\xFC\0<\0/\0r\0>\0", 18),
        std::string("\xFE\xFF\0<\0r\0>\0\xFC\0<\0/\0r\0>", 18),
        "<r><d><![CDATA[" + large + "]]></d><d><![CDATA[" + large + "]]></d></r>",
        "<p:r xmlns:p=\"urn:b\"><q:a xmlns:q=\"urn:a\"/></p:r>",
        "<r" + attributes + "/>",
        "<r><a>unfinished</a>",
        "<!DOCTYPE r [<!ENTITY e \"boom\">]><r>&e;</r>",
        repeated("<a>", 257) + repeated("</a>", 257),
        "",
    };
    const auto outcome = [](const std::string& text) {
        const std::string failure = failureOf(text, 4096);
        return failure != "no failure" ? failure : parseInPieces(text, 4096).toString();
    };
    // A thread of its own reads each reply with a context that has read nothing before.
    std::vector<std::string> first(replies.size());
    for (std::size_t i = 0; i < replies.size(); ++i)
        std::thread([&] { first[i] = outcome(replies[i]); }).join();
    const xml::Document kept = parseInPieces(replies[0], 4096);
    for (std::size_t before = 0; before < replies.size(); ++before) {
        for (std::size_t i = 0; i < replies.size(); ++i) {
            SCOPED_TRACE(std::to_string(before) + " then " + std::to_string(i));
            outcome(replies[before]);
            EXPECT_EQ(outcome(replies[i]), first[i]);
        }
    }
    EXPECT_EQ(kept.toString(), first[0]);
}

// Everything a caller can see of a node and below: kind, name, namespace, declarations, line,
// attributes and content.
std::string dumped(const xmlNode* node) {
    std::string out;
    for (; node != nullptr; node = node->next) {
        out += std::to_string(node->type) + ":" + (node->name ? (const char*)node->name : "");
        if (node->ns != nullptr)
            out += "{" + std::string(node->ns->prefix ? (const char*)node->ns->prefix : "") + "=" +
                   (const char*)node->ns->href + "}";
        if (node->type == XML_ELEMENT_NODE) {
            for (const xmlNs* ns = node->nsDef; ns != nullptr; ns = ns->next)
                out += " xmlns:" + std::string(ns->prefix ? (const char*)ns->prefix : "") + "=" +
                       (const char*)ns->href;
            for (const xmlAttr* a = node->properties; a != nullptr; a = a->next)
                out += " @" + dumped(reinterpret_cast<const xmlNode*>(a));
        }
        // An attribute has neither a line nor content of its own: its value is its children.
        if (node->type != XML_ATTRIBUTE_NODE) {
            out += " line " + std::to_string(node->line);
            if (node->content != nullptr)
                out += " [" + std::string((const char*)node->content) + "]";
        }
        if (node->type != XML_ATTRIBUTE_NODE || node->children != nullptr)
            out += " (" + dumped(node->children) + ")";
        out += "\n";
    }
    return out;
}

std::string dumped(const xml::Document& document) {
    const xmlDoc* doc = document.raw();
    return std::string("version ") + (doc->version ? (const char*)doc->version : "-") +
           " encoding " + (doc->encoding ? (const char*)doc->encoding : "-") + " standalone " +
           std::to_string(doc->standalone) + " properties " + std::to_string(doc->properties) +
           " flags " + std::to_string(doc->parseFlags) + "\n" + dumped(doc->children) +
           document.toString();
}

// Small replies are read without libxml2's parser where that reader checks all they hold; each
// must read node for node as libxml2 reads it, and each that libxml2 refuses must be left to it.
TEST(SoapReplyParser, SmallRepliesReadAsLibxml2ReadsThem) {
    ReplyLimits libxml2Only;
    libxml2Only.quickReadUpTo = 0;
    const std::string envelope =
        "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">";
    const struct {
        const char* what;
        std::string text;
        bool quick;  // read without libxml2's parser
    } cases[] = {
        {"a reply as the reference service sends it",
         "<?xml version=\"1.0\" encoding=\"utf-8\"?>" + envelope +
             "<soap:Body><tns:R xmlns:tns=\"urn:velmora:masterdata\"><tns:Result><root>"
             "<Articleinfo><Number>1</Number><Symbol><![CDATA[SYMBOL A\nLINE 1 2\nEND]]>"
             "</Symbol><Empty/></Articleinfo></root></tns:Result></tns:R></soap:Body>"
             "</soap:Envelope>",
         true},
        {"indented, with a default namespace on an inner element",
         "<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\n" + envelope +
             "\n  <soap:Body>\n    <R xmlns=\"urn:a\">\n      <Result a=\"1\" b='x&amp;y&#x41;&#66;"
             "&lt;&gt;&quot;&apos;'>text &amp; more &#233; Gr\xC3\xBC\xC3\x9F"
             "e \xF0\x9F\x98\x80 &#x1F600;</Result>\n    </R>\n  </soap:Body>\n</soap:Envelope>\n",
         true},
        {"a byte order mark and no declaration", "\xEF\xBB\xBF<r><a x='1' y=\"2\"/><b ></b ></r>",
         true},
        {"comments and instructions everywhere",
         "<!-- before --><?pi data?>\n<r><!-- in --><?pi?><?pi   ?><?pi  a  b ?><x/></r>"
         "<!-- after --><?after?>\n",
         true},
        {"sections joined, empty and beside text",
         "<r><a><![CDATA[one]]><![CDATA[]]><![CDATA[ two ]] <b> ]]></a><b>t<![CDATA[c]]>t</b>"
         "<c><![CDATA[]]></c><d>]] > ]</d></r>",
         true},
        {"attribute values normalised and referenced line ends kept",
         "<r a=\"x\ty\nz\" b='&#10;&#9;' c='>' d=''/>", true},
        {"prefixes redeclared and attributes in namespaces",
         "<p:r xmlns:p=\"urn:a\" xmlns:q='urn:b'><p:a p:x='1' q:x='2' x='3'/><p:b xmlns:p='urn:c'>"
         "<p:c/></p:b><q:d/></p:r>",
         true},
        {"tags over several lines", "<r\n  a='1'\n  b='2'>\n<s\n/>\n</r\n>", true},
        {"a fault of another stack with a language",
         "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
         "<SOAP-ENV:Body><SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode>"
         "<faultstring xml:lang=\"en\">boom</faultstring></SOAP-ENV:Fault></SOAP-ENV:Body>"
         "</SOAP-ENV:Envelope>",
         false},
        {"carriage returns", "<r>a\r\nb<![CDATA[c\r\nd]]></r>", false},
        {"a declared Latin-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>\xFC</r>", false},
        {"a name beyond ASCII", "<r><\xC3\xBC/></r>", false},
        {"an xml-stylesheet instruction", "<?xml-stylesheet href='a'?><r/>", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(readSmallReply(c.text, {}).has_value(), c.quick);
        EXPECT_EQ(dumped(parseInPieces(c.text, 7)), dumped(parseInPieces(c.text, 7, libxml2Only)));
    }
    // What libxml2 refuses, this reader must leave to it.
    for (const std::string text : {"<r><a></b></r>",
                                   "<r>&undeclared;</r>",
                                   "<r/><second/>",
                                   "<p:r/>",
                                   "<r a='1' a='2'/>",
                                   "<r xmlns:p='urn:x' xmlns:q='urn:x' p:a='1' q:a='2'/>",
                                   "<r>]]></r>",
                                   "<r><!-- a -- b --></r>",
                                   "<r><!-- a ---></r>",
                                   "<r a=1/>",
                                   "<r a='<'/>",
                                   "<r>\x01</r>",
                                   "<r>\xC3(</r>",
                                   "<r>&#0;</r>",
                                   "<r>&#xD800;</r>",
                                   "<r>&#x110000;</r>",
                                   "<r>\xEF\xBF\xBE</r>",
                                   "<?xml version='1.0'?><?xml version='1.0'?><r/>",
                                   "<r><?xml x?></r>",
                                   "<r a='1'b='2'/>",
                                   "<r>text",
                                   " <?xml version='1.0'?><r/>",
                                   "<1r/>",
                                   "<r/>trailing",
                                   "<?xml version='1.0' standalone='maybe'?><r/>",
                                   "<?xml version='1.0' encoding='utf-8' version='1.0'?><r/>",
                                   "<r xmlns:p=''/>",
                                   "<r><![CDATA[x]]></r><![CDATA[y]]>",
                                   "<!DOCTYPE r><r/>",
                                   "<r:/>",
                                   "<:r/>",
                                   "<r><a>",
                                   "<r a='&amp'/>",
                                   "<?xml version='1.0'?>",
                                   "",
                                   "<r><?x:y?></r>"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(readSmallReply(text, {}).has_value());
        EXPECT_NE(failureOf(text), "no failure");
    }
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

// Whether a reply is accepted must not depend on how the network split it: "]]>" is forbidden
// in text, and a parser that looks for it piece by piece misses it at some split points.
TEST(SoapReplyParser, VerdictDoesNotDependOnHowTheBodyWasSplit) {
    const std::string forbidden =
        "<r>" + repeated("Base64+text/", 70) + "]]>" + repeated("x", 40) + "</r>";
    const std::string fine =
        "<r><![CDATA[" + repeated("Base64+text/", 70) + "]]>" + repeated("x", 40) + "</r>";
    for (std::size_t piece : {1, 2, 3, 5, 13, 64, 300, 4096}) {
        SCOPED_TRACE(piece);
        EXPECT_NE(failureOf(forbidden, piece), "no failure");
        EXPECT_EQ(failureOf(fine, piece), "no failure");
    }
}

// Each limit ends the parse with an error that names it, in time linear in the reply's size.
TEST(SoapReplyParser, RepliesOverALimitAreRefusedNamingIt) {
    ReplyLimits small;
    small.treeAllowance = 1 << 20;
    const struct {
        const char* what;
        std::string text;
        ReplyLimits limits;
        std::string expected;
    } cases[] = {
        {"257 levels",
         repeated("<a>", 257) + repeated("</a>", 257),
         {},
         "deeper than the limit of 256"},
        {"256 levels", repeated("<a>", 256) + repeated("</a>", 256), {}, "no failure"},
        {"element stream", "<r>" + repeated("<a/>", 1 << 20) + "</r>", small,
         "holds more elements"},
        {"attribute stream", "<r>" + repeated("<a b='' c='' d=''/>", 1 << 16) + "</r>", small,
         "holds more elements"},
        {"one large text", "<r>" + repeated("QUJD", 1 << 20) + "</r>", small, "no failure"},
        {"one large CDATA", "<r><![CDATA[" + repeated("QUJD", 1 << 20) + "]]></r>", small,
         "no failure"},
        {"control character heading a large CDATA",
         "<r><![CDATA[\x01" + repeated("QUJD", 4 << 20) + "]]></r>",
         {},
         "UTF-8"},
        {"CDATA never closed",
         "<r><![CDATA[" + repeated("QUJD", 4 << 20) + "</r>",
         {},
         "A CDATA section is not closed"},
        {"CDATA start inside a comment", "<r><!-- <![CDATA[ --></r>", {}, "no failure"},
        {"CDATA start inside a processing instruction",
         "<r><?pi <![CDATA[ ?></r>",
         {},
         "no failure"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto start = std::chrono::steady_clock::now();
        const std::string failure = failureOf(c.text, 65536, c.limits);
        EXPECT_NE(failure.find(c.expected), std::string::npos) << failure;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
}

TEST(SoapReplyParser, ParsingPastTheDeadlineIsATimeOut) {
    const std::string text = "<r>" + repeated("<a x='1'>t</a>", 1 << 16) + "</r>";
    ReplyParser parser;
    parser.feed(text.data(), text.size());
    try {
        parser.finish(std::chrono::steady_clock::now() - std::chrono::seconds(1));
        ADD_FAILURE() << "parsed after its deadline";
    } catch (const Error& e) {
        EXPECT_EQ(e.number, err::SoapTimeout);
    }
}

}  // namespace
}  // namespace ovk::soap
