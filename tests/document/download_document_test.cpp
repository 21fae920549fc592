// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "component_folder.hpp"
#include "document/download_document.hpp"
#include "document/validation_text.hpp"

namespace ovk {
namespace {

using test::ComponentFolder;
using test::downloadDocument;
using test::TempDir;

TEST(ProjectType, IsTheTextOfTheFirstSystemElement) {
    TempDir dir;
    EXPECT_EQ(GetProjectType(dir.write(
                  "a.xml", "<D><x><System>MERIDO</System></x><System>TARVO</System></D>")),
              "MERIDO");
    EXPECT_EQ(GetProjectType(dir.write("b.xml", "<D><System> TARVO </System></D>")), " TARVO ");
    EXPECT_EQ(GetProjectType(dir.write("c.xml", "<D/>")), "");
    EXPECT_EQ(GetProjectType(dir.write("d.xml", "not xml")), "");
    EXPECT_TRUE(
        isErrorText(GetProjectType(dir.write("e.xml", "<D><System>error-type</System></D>"))));
}

// A payload as services send it: Base64 in lines, well above the size that stands in.
std::string payload() {
    std::string text;
    for (int line = 0; line < 40; ++line) text += std::string(76, 'A' + line % 26) + "\n";
    return text;
}

// Only the payloads of the last download's items are left in the file; every other text is
// read as it is. The parser finds in them what it finds reading the file (checked against a
// plain load), and the lines after them stay the file's.
TEST(DownloadDocumentLoad, LeavesOnlyTheLastItemsPayloadsInTheFile) {
    const auto item = [](const std::string& content) {
        return "<Articleinfo><![CDATA[" + content + "]]></Articleinfo>";
    };
    const std::string p = payload();
    std::string scripts, straddling;  // the latter across the file's 4 MiB blocks
    for (int i = 0; i < 60; ++i)
        scripts +=
            "Gr\xC3\xBC\xC3\x9F"
            "e \xE2\x82\xAC\n" +
            p.substr(0, i);
    for (int i = 0; i < 1500000; ++i) straddling += i % 33 == 0 ? "\n" : "\xE2\x82\xAC";
    struct Case {
        std::string name, before, project, content;  // before: among the settings
        bool loads, standsIn;
    };
    std::vector<Case> cases = {
        {"an item's document", "",
         "<Articleinfo><BINARY><Document><![CDATA[" + p + "]]></Document></BINARY></Articleinfo>",
         p, true, true},
        {"another prefix and case", "",
         "<x:ARTICLEINFO xmlns:x=\"u\"><![CDATA[" + p + "]]></x:ARTICLEINFO>", p, true, true},
        {"markup around it", "",
         "<!-- <Structure> --><Articleinfo/><?pi <Structure>?>"
         "<Articleinfo a=\"/>\" b='>'><![CDATA[" +
             p + "]]></Articleinfo>",
         p, true, true},
        {"text in several scripts", "", item(scripts), scripts, true, true},
        {"the structure", "", "<Structure><![CDATA[" + p + "]]></Structure>", p, true, false},
        {"a setting in an item", "",
         "<Articleinfo><Password><![CDATA[" + p + "]]></Password></Articleinfo>", p, true, false},
        {"deeper in Project", "", "<Other>" + item(p) + "</Other>", p, true, false},
        {"outside Project", item(p), "", p, true, false},
        {"a later Project", "<Project/>", item(p), p, true, false},
        {"a control character", "", item(p + "\x01" + p), "", false, true},
        {"a zero byte", "", item(p + std::string(1, '\0') + p), "", false, true},
        {"a character cut short", "", item(p + "\xC3(" + p), "", false, true},
        {"a lone continuation byte", "", item(p + "\xA9" + p), "", false, true},
        {"a character cut by the end", "", item(p + "\xE2\x82"), "", false, true},
        {"a code point XML forbids", "", item(p + "\xEF\xBF\xBE"), "", false, true},
        {"no end", "", "<Articleinfo><![CDATA[" + p + p, "", false, true},
    };
    for (int shift = 0; shift < 3; ++shift)
        cases.push_back({"across blocks, shifted by " + std::to_string(shift),
                         "<!--" + std::string(shift, ' ') + "-->", item(straddling), straddling,
                         true, true});
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = downloadDocument("TARVO", c.before, c.project + "\n<After/>");
        const auto path = dir.write("d.xml", text);
        bool loads = true;
        try {
            (void)xml::Document::loadFile(path);
        } catch (const xml::ParseError&) {
            loads = false;
        }
        ASSERT_EQ(loads, c.loads);
        if (!loads) {
            EXPECT_THROW(LoadDownloadDocument(path), xml::ParseError);
            continue;
        }
        const xml::Document document = LoadDownloadDocument(path);
        EXPECT_EQ(document.toString().find(c.content) == std::string::npos, c.standsIn);
        const auto lines = std::count(text.begin(), text.begin() + text.find("<After/>"), '\n');
        EXPECT_EQ(document.firstElementByName("After").line(), lines + 1);
    }
}

TEST(SchemaFileName, IsFoundInTheComponentFolderWithoutRegardToCase) {
    ComponentFolder component;
    const std::string tarvo = BuildSchemaFileName("TARVO", component.path());
    EXPECT_EQ(tarvo, (component.path() / "TARVO_download.XSD").string());
    EXPECT_EQ(BuildSchemaFileName("merido", component.path()),
              (component.path() / "MERIDO_download.XSD").string());
    EXPECT_EQ(BuildSchemaFileName("", component.path()), "Error Schema File not found");
    EXPECT_EQ(BuildSchemaFileName("OTHER", component.path()), "Error Schema File not found");
    EXPECT_EQ(BuildSchemaFileName("../../etc/passwd", component.path()),
              "Error Schema File not found");
}

TEST(ErrorText, IsRecognisedByItsFirstFiveCharactersInAnyCase) {
    EXPECT_TRUE(isErrorText("Error Schema File not found"));
    EXPECT_TRUE(isErrorText("eRRoR"));
    EXPECT_FALSE(isErrorText("Erro"));
    EXPECT_FALSE(isErrorText("TARVO"));
}

TEST(Validation, AcceptsTheExamplesAndAFinishedDownload) {
    ComponentFolder component;
    for (const char* type : {"TARVO", "MERIDO"}) {
        const std::string example =
            std::string(OVK_EXAMPLES_DIR) + "/" +
            (std::string(type) == "TARVO" ? "tarvo_download.xml" : "merido_download.xml");
        EXPECT_NE(ValidateDocument(BuildSchemaFileName(type, component.path()), example), nullptr)
            << type;
    }
    TempDir dir;
    const auto finished =
        dir.write("done.xml",
                  downloadDocument(
                      "TARVO", "<ProjectID>P</ProjectID><Language>English</Language>",
                      "<Symbolfile>s.txt</Symbolfile><Gerfile/>"
                      "<Structure><Field><FieldId>Field03</FieldId><Fieldname>Maker</Fieldname>"
                      "<Codenumber>C3</Codenumber><Fieldtype>String</Fieldtype></Field></Structure>"
                      "<Select><FieldId>Field03</FieldId></Select>"
                      "<Articleinfo><Number>4711</Number><COMPONENTS><X/></COMPONENTS>"
                      "<BINARY><DOCUMENTS><Document><![CDATA[QQ==]]></Document></DOCUMENTS></"
                      "BINARY></Articleinfo>"));
    EXPECT_NE(ValidateDocument(BuildSchemaFileName("TARVO", component.path()), finished), nullptr);
}

TEST(Validation, AnInvalidDocumentLeavesTheDetailTextAndGivesNothing) {
    ComponentFolder component;
    TempDir dir;
    const auto doc = dir.write(
        "bad.xml", "<Download>\n  <System>TARVO</System>\n  <Bogus/>\n  <Project/>\n</Download>\n");
    EXPECT_EQ(ValidateDocument(BuildSchemaFileName("TARVO", component.path()), doc), nullptr);
    const std::string& text = validationText();
    EXPECT_NE(text.find("Bogus"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\non Line: 3 Position: 3\r\n  <Bogus/>"), std::string::npos) << text;

    // Lines after a payload of the last download are counted as the file has them.
    const auto withItem = dir.write(
        "item.xml",
        "<Download>\n  <System>TARVO</System>\n  <Project><Symbolfile/><Gerfile/><Articleinfo>"
        "<![CDATA[" +
            payload() + "]]></Articleinfo></Project>\n  <Bogus/>\n</Download>\n");
    EXPECT_EQ(ValidateDocument(BuildSchemaFileName("TARVO", component.path()), withItem), nullptr);
    EXPECT_NE(validationText().find("\r\non Line: 44 Position: 3\r\n  <Bogus/>"), std::string::npos)
        << validationText();

    // A failure that is not the document's (a broken schema) leaves the text alone.
    const auto brokenSchema = dir.write("broken.xsd", "<nonsense/>");
    EXPECT_EQ(ValidateDocument(brokenSchema, doc), nullptr);
    EXPECT_NE(validationText().find("on Line: 44"), std::string::npos);
}

TEST(Validation, AMeridoDocumentIsNotATarvoDocument) {
    ComponentFolder component;
    EXPECT_EQ(ValidateDocument(BuildSchemaFileName("TARVO", component.path()),
                               std::string(OVK_EXAMPLES_DIR) + "/merido_download.xml"),
              nullptr);
}

}  // namespace
}  // namespace ovk
