#include <gtest/gtest.h>

#include "component_folder.hpp"
#include "document/config_infos.hpp"
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

std::vector<std::string> sectionTexts(const xml::Document& document) {
    std::vector<std::string> texts;
    std::vector<xml::Node> pending{document.root()};
    while (!pending.empty()) {
        const xml::Node node = pending.back();
        pending.pop_back();
        if (node.kind() == xml::NodeKind::CData) texts.push_back(node.text());
        const auto children = node.children();
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return texts;
}

// Only the payloads of the last download's items are left in the file; every other text is
// read as it is, and the lines after a payload stay those of the file.
TEST(DownloadDocumentLoad, LeavesOnlyTheLastItemsPayloadsInTheFile) {
    const std::string p = "<![CDATA[" + payload() + "]]>";
    const struct {
        const char* name;
        std::string before;   // among the settings, before Project
        std::string project;  // Project's content
        bool standsIn;
    } cases[] = {
        {"an item's document", "",
         "<Articleinfo><BINARY><DOCUMENTS><Document>" + p +
             "</Document></DOCUMENTS></BINARY></Articleinfo>",
         true},
        {"an item of another prefix and case", "",
         "<x:ARTICLEINFO xmlns:x=\"urn:x\">" + p + "</x:ARTICLEINFO>", true},
        {"tags, comments and an empty item around it", "",
         "<!-- <Structure> --><Articleinfo/><?pi <Structure>?><Articleinfo a=\"/>\" b='>'>" + p +
             "</Articleinfo>",
         true},
        {"the structure", "", "<Structure>" + p + "</Structure>", false},
        {"an Articleinfo deeper in Project", "",
         "<Other><Articleinfo>" + p + "</Articleinfo></Other>", false},
        {"an Articleinfo outside Project", "<Articleinfo>" + p + "</Articleinfo>", "", false},
        {"a later Project", "<Project/>", "<Articleinfo>" + p + "</Articleinfo>", false},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = downloadDocument("TARVO", c.before, c.project + "\n<After/>");
        const xml::Document document = LoadDownloadDocument(dir.write("d.xml", text));
        const auto texts = sectionTexts(document);
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0] != payload(), c.standsIn);
        EXPECT_LT(texts[0].size(), c.standsIn ? 200 : 100000);
        const auto lines = std::count(text.begin(), text.begin() + text.find("<After/>"), '\n');
        EXPECT_EQ(document.firstElementByName("After").line(), lines + 1);
    }

    // A setting the start-up reads, inside an item, is read in full; a payload without its end
    // is still an error.
    const auto inItem = dir.write(
        "s.xml", downloadDocument("TARVO",
                                  "<URL>http://a.example</URL><ProjectID>P</ProjectID>"
                                  "<Language>English</Language>",
                                  "<Articleinfo><Password>" + p + "</Password></Articleinfo>"));
    const xml::Document settings = LoadDownloadDocument(inItem);
    EXPECT_EQ(GetConfigInfos(&settings)[config::Password], payload());
    const auto cut =
        dir.write("c.xml", "<Download><Project><Articleinfo><![CDATA[" + payload() + payload());
    EXPECT_THROW(LoadDownloadDocument(cut), xml::ParseError);
}

// The parser finds in the payloads left in the file what it would find reading them: a
// character XML forbids, broken UTF-8; and accepts text in any script, also where a character
// straddles the blocks the file is read in.
TEST(DownloadDocumentLoad, FindsWhatTheParserFindsInThePayloadsLeftInTheFile) {
    std::string scripts;
    for (int i = 0; i < 60; ++i)
        scripts +=
            "Gr\xC3\xBC\xC3\x9F"
            "e \xE2\x82\xAC\n\xF0\x9D\x84\x9E" +
            payload().substr(0, i);
    std::string straddling;
    for (int i = 0; i < 1500000; ++i) straddling += i % 33 == 0 ? "\n" : "\xE2\x82\xAC";
    struct Case {
        std::string name;
        std::string content;
        bool loads;
        std::string before = "";
    };
    std::vector<Case> cases = {
        {"Base64", payload(), true},
        {"text in several scripts", scripts, true},
        {"a control character", payload() + "\x01" + payload(), false},
        {"a zero byte", payload() + std::string(1, '\0') + payload(), false},
        {"a multi-byte character cut short", payload() + "\xC3(" + payload(), false},
        {"a lone continuation byte", payload() + "\xA9" + payload(), false},
        {"a character cut off by the section's end", payload() + "\xE2\x82", false},
        {"a code point XML forbids", payload() + "\xEF\xBF\xBE", false},
    };
    for (int shift = 0; shift < 3; ++shift)
        cases.push_back(
            {"a character across the file's blocks, shifted by " + std::to_string(shift),
             straddling, true, "<!--" + std::string(shift, ' ') + "-->"});
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text =
            downloadDocument("TARVO", c.before,
                             "<Articleinfo><![CDATA[" + c.content + "]]></Articleinfo>\n<After/>");
        const auto path = dir.write("d.xml", text);
        bool read = true;
        try {
            (void)xml::Document::loadFile(path);
        } catch (const xml::ParseError&) {
            read = false;
        }
        ASSERT_EQ(read, c.loads);
        if (!c.loads) {
            EXPECT_THROW(LoadDownloadDocument(path), xml::ParseError);
            continue;
        }
        const xml::Document document = LoadDownloadDocument(path);
        EXPECT_NE(sectionTexts(document).at(0), c.content);
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
