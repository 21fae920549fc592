// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <fstream>

#include "temp_dir.hpp"
#include "xml/document.hpp"

namespace ovk::xml {
namespace {

using test::TempDir;

TEST(XmlDocument, KeepsWhiteSpaceAndReadsNodesInDocumentOrder) {
    const Document doc = Document::loadMemory(
        "<a:root xmlns:a='urn:x'>\n  <System>TARVO</System><x><System>MERIDO</System></x>"
        "<!--c--><?pi data?><![CDATA[<raw>]]></a:root>");
    const Node root = doc.root();
    EXPECT_EQ(root.name(), "a:root");
    EXPECT_EQ(root.localName(), "root");
    EXPECT_EQ(doc.firstElementByName("System").text(), "TARVO");
    EXPECT_EQ(doc.elementsByName("System").size(), 2u);

    const auto children = root.children();
    ASSERT_EQ(children.size(), 6u);
    EXPECT_EQ(children[0].kind(), NodeKind::Text);
    EXPECT_EQ(children[0].text(), "\n  ");
    EXPECT_EQ(children[3].kind(), NodeKind::Comment);
    EXPECT_EQ(children[4].kind(), NodeKind::ProcessingInstruction);
    EXPECT_EQ(children[5].kind(), NodeKind::CData);
    EXPECT_EQ(children[5].text(), "<raw>");
    EXPECT_EQ(root.childElements().size(), 2u);
}

TEST(XmlDocument, ReadsAttributesByPositionAndName) {
    const Document doc = Document::loadMemory("<f xmlns:p='urn:p' B='1' A='2' p:C='3' ID='7'/>");
    const Node f = doc.root();
    EXPECT_EQ(f.attributeCount(), 4u);  // the namespace declaration is not an attribute
    EXPECT_EQ(f.attributeAt(0), "1");
    EXPECT_EQ(f.attributeAt(2), "3");
    EXPECT_EQ(f.attributeNameAt(3), "ID");
    EXPECT_FALSE(f.attributeAt(4).has_value());
    EXPECT_EQ(f.attribute("ID"), "7");
    EXPECT_EQ(f.attribute("p:C"), "3");
    EXPECT_FALSE(f.attribute("missing").has_value());
    EXPECT_FALSE(Node().attributeAt(0).has_value());
}

TEST(XmlDocument, BuildsSavesAndReloadsATree) {
    TempDir dir;
    Document doc;
    Node root = doc.setRoot(doc.createElement("Project"));
    Node field = root.appendChild(doc.createElement("Field"));
    field.appendChild(doc.createText("a < b & c"));
    root.appendChild(doc.createCData("x]]y"));
    doc.save(dir / "out.xml");

    const Document again = Document::loadFile(dir / "out.xml");
    EXPECT_EQ(again.firstElementByName("Field").text(), "a < b & c");
    EXPECT_EQ(again.root().text(), "a < b & cx]]y");
    // Nothing but the saved file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(XmlDocument, RemovedNodesAreGoneAndXPathFindsNodes) {
    Document doc = Document::loadMemory("<R><L ID='1033'><I Name='a'/></L><L ID='1031'/></R>");
    EXPECT_EQ(doc.selectNodes("//R/L").size(), 2u);
    EXPECT_EQ(doc.selectSingleNode("//R/L[@ID='1033']/I").attribute("Name"), "a");
    EXPECT_FALSE(doc.selectSingleNode("//R/L[@ID='9']"));
    EXPECT_THROW(doc.selectNodes("//R/L[@ID='it's']"), ParseError);
    Node second = doc.selectSingleNode("//L[@ID='1031']");
    second.remove();
    EXPECT_FALSE(second);
    EXPECT_EQ(doc.selectNodes("//L").size(), 1u);
}

// What a loader that does not keep white space makes of a reply: indentation between elements
// goes; text, CDATA, the blanks that are an element's whole value and white space the document
// asks to keep stay.
TEST(XmlDocument, DroppingWhiteSpaceTextLeavesWhatTheContentSays) {
    struct Case {
        const char* xml;
        const char* compact;
        const char* from = nullptr;  // the element dropped from; the root when none
    };
    for (const Case& c : {
             Case{"<r>\n  <a x='1'/>\n  <b>\n    <c/>\n  </b>\n</r>",
                  "<r><a x=\"1\"/><b><c/></b></r>"},
             Case{"<r> <a> text </a> </r>", "<r><a> text </a></r>"},
             Case{"<r> <a><![CDATA[  ]]></a> </r>", "<r><a><![CDATA[  ]]></a></r>"},
             Case{"<r> <a>  </a> <b>\n</b> <c>\t<d/></c> </r>",
                  "<r><a>  </a><b>\n</b><c><d/></c></r>"},
             Case{"<r>  </r>", "<r/>"},
             Case{"<r> <p xml:space='preserve'> <q/> </p> </r>",
                  "<r><p xml:space=\"preserve\"> <q/> </p></r>"},
             // The node's own children are a list even under "preserve"; what it sets goes
             // down to its children, and the nearest "preserve" or "default" decides.
             Case{"<r xml:space='preserve'> <a> <b/> </a> </r>",
                  "<r xml:space=\"preserve\"><a> <b/> </a></r>"},
             Case{"<r xml:space='preserve'> <p xml:space='default'> <q/> </p> </r>",
                  "<r xml:space=\"preserve\"><p xml:space=\"default\"><q/></p></r>"},
             Case{"<r xml:space='preserve'> <p xml:space='other'> <q/> </p> </r>",
                  "<r xml:space=\"preserve\"><p xml:space=\"other\"> <q/> </p></r>"},
             Case{"<e xml:space='preserve'> <r> <a> <b/> </a> </r> </e>",
                  "<e xml:space=\"preserve\"> <r><a> <b/> </a></r> </e>", "r"},
         }) {
        Document doc = Document::loadMemory(c.xml);
        (c.from != nullptr ? doc.firstElementByName(c.from) : doc.root()).dropWhitespaceText();
        std::string text = doc.toString();
        text = text.substr(text.find('\n') + 1);
        while (!text.empty() && text.back() == '\n') text.pop_back();
        EXPECT_EQ(text, c.compact) << c.xml;
    }
}

TEST(XmlDocumentFailures, NotWellFormedGivesReasonLineAndPosition) {
    try {
        Document::loadMemory("<a>\n  <b></c>\n</a>");
        FAIL() << "expected a parse error";
    } catch (const ParseError& e) {
        EXPECT_NE(e.failure.reason.find("mismatch"), std::string::npos) << e.failure.reason;
        EXPECT_EQ(e.failure.line, 2);
        EXPECT_GT(e.failure.position, 0);
        EXPECT_EQ(e.failure.sourceLine, "  <b></c>");
    }
    EXPECT_THROW(Document::loadMemory("this is not xml"), ParseError);
    EXPECT_THROW(Document::loadMemory(""), ParseError);
}

TEST(XmlDocumentFailures, MissingFileIsFileNotFound) {
    try {
        Document::loadFile("/nonexistent/doc.xml");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number, err::FileNotFound);
    }
}

TEST(XmlDocumentSafety, BillionLaughsIsRefused) {
    std::string text = "<?xml version='1.0'?><!DOCTYPE lolz [<!ENTITY lol 'lol'>";
    text += "<!ENTITY lol1 '&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;'>";
    for (int i = 2; i <= 9; ++i) {
        text += "<!ENTITY lol" + std::to_string(i) + " '";
        for (int j = 0; j < 10; ++j) text += "&lol" + std::to_string(i - 1) + ";";
        text += "'>";
    }
    text += "]><lolz>&lol9;</lolz>";
    // Files are read without size limits: refusing entity declarations is what keeps them safe.
    EXPECT_THROW(Document::loadMemory(text), ParseError);
    EXPECT_THROW(Document::loadMemory(text, Source::ServiceReply), ParseError);
}

TEST(XmlDocumentSafety, ExternalEntityDoesNotReadOtherFiles) {
    TempDir dir;
    const auto secret = dir.write("secret.txt", "TOP-SECRET-CONTENT");
    const std::string text = "<?xml version='1.0'?><!DOCTYPE r [<!ENTITY x SYSTEM 'file://" +
                             secret.string() + "'>]><r>&x;</r>";
    const auto path = dir.write("doc.xml", text);
    try {
        const Document doc = Document::loadFile(path);
        EXPECT_EQ(doc.toString().find("TOP-SECRET"), std::string::npos);
        EXPECT_EQ(doc.root().text().find("TOP-SECRET"), std::string::npos);
    } catch (const ParseError&) {
        SUCCEED();
    }
    try {
        Document::loadMemory(text, Source::ServiceReply);
        FAIL() << "a DOCTYPE in a service reply must be refused";
    } catch (const ParseError& e) {
        EXPECT_NE(e.failure.reason.find("DOCTYPE"), std::string::npos);
    }
}

// A download document holds every document it downloaded: texts beyond the parser's default
// limit of 10 MB, in text and in CDATA, are read whole.
TEST(XmlDocumentSafety, TextsOfAnySizeInAFileAreRead) {
    TempDir dir;
    const std::string chunk(1 << 20, 'x');
    std::string big;
    for (int i = 0; i < 16; ++i) big += chunk;
    const auto path =
        dir.write("huge.xml", "<a><t>" + big + "</t><c><![CDATA[" + big + "]]></c></a>");
    const Document doc = Document::loadFile(path);
    EXPECT_EQ(doc.firstElementByName("t").text().size(), big.size());
    EXPECT_EQ(doc.firstElementByName("c").text().size(), big.size());
}

TEST(XmlNodeList, KeepsItsDocumentAlive) {
    NodeList list;
    {
        auto doc = std::make_shared<const Document>(Document::loadMemory("<r><a x='1'/><b/></r>"));
        list = NodeList(doc, doc->root().children());
    }
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.first().attribute("x"), "1");
    EXPECT_EQ(list[1].name(), "b");
}

}  // namespace
}  // namespace ovk::xml
