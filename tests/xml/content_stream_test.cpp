// SPDX-License-Identifier: MIT
#include "xml/content_stream.hpp"

#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <string>
#include <vector>

#include "xml/document.hpp"

namespace ovk::xml {
namespace {

// The events as one line each, pieces of a node joined and adjacent sections too: what a tree
// of the same text holds.
struct Recorder : ContentEvents {
    std::vector<std::string> lines;
    std::string pieces;
    bool section = false;
    void startElement(std::string_view name, const std::vector<Attribute>& attributes) override {
        section = false;
        std::string line = "<" + std::string(name);
        // A tree keeps namespace declarations apart from the attributes.
        for (const auto& a : attributes)
            if (!a.name.starts_with("xmlns")) line += " " + a.name + "=" + a.value;
        lines.push_back(line + ">");
    }
    void endElement() override {
        section = false;
        lines.push_back("</>");
    }
    void data(Data, std::string_view piece) override { pieces += piece; }
    void endData(Data kind) override {
        if (kind == Data::CData && section) {
            lines.back() += pieces;
        } else {
            lines.push_back((kind == Data::Text ? "text:" : "cdata:") + pieces);
        }
        section = kind == Data::CData;
        pieces.clear();
    }
    void otherNode() override {
        section = false;
        lines.push_back("other");
    }
};

// The same from libxml2's tree of "<root>" + content + "</root>".
void walkTree(const xmlNode* node, std::vector<std::string>& lines) {
    for (; node != nullptr; node = node->next) {
        const auto* content = reinterpret_cast<const char*>(node->content);
        if (node->type == XML_ELEMENT_NODE) {
            std::string line = "<" + std::string(reinterpret_cast<const char*>(node->name));
            if (node->ns != nullptr && node->ns->prefix != nullptr)
                line = "<" + std::string(reinterpret_cast<const char*>(node->ns->prefix)) + ":" +
                       line.substr(1);
            for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
                xmlChar* value = xmlNodeGetContent(a->children);
                line += " " + std::string(reinterpret_cast<const char*>(a->name)) + "=" +
                        reinterpret_cast<const char*>(value);
                xmlFree(value);
            }
            lines.push_back(line + ">");
            walkTree(node->children, lines);
            lines.push_back("</>");
        } else if (node->type == XML_TEXT_NODE) {
            lines.push_back("text:" + std::string(content));
        } else if (node->type == XML_CDATA_SECTION_NODE) {
            lines.push_back("cdata:" + std::string(content == nullptr ? "" : content));
        } else {
            lines.push_back("other");
        }
    }
}

// Every content read in one piece, cut at every byte, and a byte at a time gives the events
// of libxml2's tree, and ends exactly at the end tag; every fault is found at every cut.
TEST(ContentStream, ReadsAsATreeHoldsItWhereverThePiecesEnd) {
    const std::vector<std::string> wellFormed = {
        "plain text",
        "<a/><b x='1' y=\"&lt;&#65;&#x42;\tz\">t&amp;u&gt;&quot;&apos;</b>",
        "a\r\nb\rc\n<![CDATA[]]><![CDATA[x]]]]><![CDATA[>y]]>]<!-- c - d -->e<?pi data?>f",
        "Gr\xc3\xb6\xc3\x9f"
        "e \xe2\x82\xac \xf0\x9f\x98\x80 ]] ]>",
        "<p:e xmlns:p='urn:x'><p:f/></p:e>\n  <g>\n</g>",
    };
    for (const std::string& content : wellFormed) {
        SCOPED_TRACE(content);
        const Document tree = Document::loadMemory("<root>" + content + "</root>");
        std::vector<std::string> expected;
        walkTree(xmlDocGetRootElement(tree.raw())->children, expected);
        const std::string text = content + "</root>trailing";
        for (std::size_t cut = 0; cut <= text.size(); ++cut) {
            for (const std::size_t step : {text.size(), std::size_t{1}}) {
                Recorder events;
                ContentStream stream(events, 16, "root");
                std::size_t taken = stream.feed(text.substr(0, cut));
                for (std::size_t at = cut; at < text.size() && !stream.ended(); at += step)
                    taken += stream.feed(text.substr(at, step));
                ASSERT_TRUE(stream.ended());
                EXPECT_EQ(taken, content.size() + 7) << cut;
                EXPECT_EQ(events.lines, expected) << cut;
            }
        }
    }
    const std::vector<std::string> malformed = {
        "<a>",
        "</b>",
        "a]]>b",
        "&undefined;",
        "&#0;",
        "<a x='1' x='2'/>",
        "<a x=1/>",
        "<!-- a -- b -->",
        "<?xml version='1.0'?>",
        "<!DOCTYPE x>",
        "\x01",
        "\xc3\x28",
        "\xed\xa0\x80",
        "<a b='<'/>",
        "< a/>",
    };
    for (const std::string& content : malformed) {
        SCOPED_TRACE(content);
        const std::string text = content + "</root>";
        for (std::size_t cut = 0; cut <= text.size(); ++cut) {
            Recorder events;
            ContentStream stream(events, 16, "root");
            EXPECT_THROW(
                {
                    stream.feed(text.substr(0, cut));
                    stream.feed(text.substr(cut));
                    if (!stream.ended()) throw ContentError(0, "unfinished");
                },
                Error)
                << cut;
        }
    }
}

TEST(ContentStream, KeepsLineEndsInSectionsAndBoundsItsDepth) {
    Recorder events;
    ContentStream stream(events, 2, "root");
    stream.feed("<![CDATA[a\r\nb]]><a><b>");
    EXPECT_EQ(events.lines.front(), "cdata:a\r\nb");
    EXPECT_THROW(stream.feed("<c/>"), Error);
}

}  // namespace
}  // namespace ovk::xml
