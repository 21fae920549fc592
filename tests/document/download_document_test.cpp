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

    // A failure that is not the document's (a broken schema) leaves the text alone.
    const auto brokenSchema = dir.write("broken.xsd", "<nonsense/>");
    EXPECT_EQ(ValidateDocument(brokenSchema, doc), nullptr);
    EXPECT_EQ(validationText(), text);
}

TEST(Validation, AMeridoDocumentIsNotATarvoDocument) {
    ComponentFolder component;
    EXPECT_EQ(ValidateDocument(BuildSchemaFileName("TARVO", component.path()),
                               std::string(OVK_EXAMPLES_DIR) + "/merido_download.xml"),
              nullptr);
}

}  // namespace
}  // namespace ovk
