// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "temp_dir.hpp"
#include "xml/schema_validation.hpp"

namespace ovk::xml {
namespace {

using test::TempDir;

constexpr const char* kSchema = R"(<?xml version="1.0"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:element name="Doc">
    <xs:complexType><xs:sequence>
      <xs:element name="System" type="xs:string"/>
      <xs:element name="Count" type="xs:int" minOccurs="0" maxOccurs="unbounded"/>
    </xs:sequence></xs:complexType>
  </xs:element>
</xs:schema>)";

TEST(SchemaValidation, AcceptsAValidDocument) {
    TempDir dir;
    const auto schema = dir.write("s.xsd", kSchema);
    const auto doc = dir.write("d.xml", "<Doc><System>TARVO</System><Count>3</Count></Doc>");
    EXPECT_EQ(loadValidated(schema, doc).firstElementByName("System").text(), "TARVO");
}

// Positions count the characters of the line, whatever their encoding takes in bytes.
TEST(SchemaValidation, ReportsReasonLinePositionAndSourceLineOfTheFirstProblem) {
    TempDir dir;
    const auto schema = dir.write("s.xsd", kSchema);
    const struct {
        std::string declaration;
        std::string offendingLine;
        long position;  // of the second <Count>, the offending one
    } cases[] = {
        {"", "  <Count>1</Count>  <Count>x</Count>", 21},
        {"", "  <Count>1</Count><!--\xE2\x82\xAC\xE2\x82\xAC--><Count>x</Count>", 28},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>",
         "  <Count>1</Count><!--\xE9\xE9--><Count>x</Count>", 28},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offendingLine);
        const auto doc = dir.write("d.xml", c.declaration + "<Doc>\n  <System>TARVO</System>\n" +
                                                c.offendingLine + "\n</Doc>\n");
        try {
            loadValidated(schema, doc);
            FAIL() << "expected a validation error";
        } catch (const ParseError& e) {
            EXPECT_NE(e.failure.reason.find("Count"), std::string::npos) << e.failure.reason;
            EXPECT_EQ(e.failure.line, 3);
            EXPECT_EQ(e.failure.position, c.position);
            EXPECT_EQ(e.failure.sourceLine, c.offendingLine);
        }
    }
}

TEST(SchemaValidation, UnexpectedElementAndNotWellFormedAreParseErrors) {
    TempDir dir;
    const auto schema = dir.write("s.xsd", kSchema);
    EXPECT_THROW(loadValidated(schema, dir.write("a.xml", "<Doc><Other/></Doc>")), ParseError);
    EXPECT_THROW(loadValidated(schema, dir.write("b.xml", "<Doc><System>")), ParseError);
}

TEST(SchemaValidation, AnUnusableSchemaIsAnErrorButNotAValidationFailure) {
    TempDir dir;
    const auto doc = dir.write("d.xml", "<Doc><System/></Doc>");
    const auto bad = dir.write("bad.xsd", "<notaschema/>");
    try {
        loadValidated(bad, doc);
        FAIL();
    } catch (const ParseError&) {
        FAIL() << "a broken schema is not the document's fault";
    } catch (const Error& e) {
        EXPECT_NE(e.description.find("schema"), std::string::npos);
    }
    EXPECT_THROW(loadValidated(dir / "missing.xsd", doc), Error);
}

}  // namespace
}  // namespace ovk::xml
