// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <cmath>
#include <limits>

#include "platform/errors.hpp"
#include "soap/envelope.hpp"
#include "soap_test_support.hpp"
#include "xml/document.hpp"

namespace ovk::soap {
namespace {

constexpr const char* kEnvNs = "http://schemas.xmlsoap.org/soap/envelope/";

std::string namespaceOf(const xml::Node& node) {
    const auto* raw = node.raw();
    return raw->ns != nullptr ? reinterpret_cast<const char*>(raw->ns->href) : "";
}

OperationInfo itemOperation() {
    OperationInfo op;
    op.name = "GetItemData";
    op.wrapperName = "GetItemData";
    op.wrapperNamespace = test::kTestNs;
    for (const char* name : {"password", "projectId", "langId", "materialId"}) {
        op.parameters.push_back(Parameter{name, test::kTestNs});
    }
    return op;
}

// The body's first element, after checking the envelope around it.
xml::Node bodyEntry(const xml::Document& doc) {
    const xml::Node envelope = doc.root();
    EXPECT_EQ(envelope.localName(), "Envelope");
    EXPECT_EQ(namespaceOf(envelope), kEnvNs);
    const auto parts = envelope.childElements();
    EXPECT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts.at(0).localName(), "Body");
    EXPECT_EQ(namespaceOf(parts.at(0)), kEnvNs);
    return parts.at(0).childElements().at(0);
}

TEST(SoapEnvelope, WrappedRequestCarriesArgumentsInParameterOrder) {
    const std::string text = buildRequestEnvelope(
        itemOperation(),
        {std::string("secret"), std::string("P1"), int16_t{1031}, std::string("4711")});
    const auto doc = xml::Document::loadMemory(text);

    const xml::Node wrapper = bodyEntry(doc);
    EXPECT_EQ(wrapper.localName(), "GetItemData");
    EXPECT_EQ(namespaceOf(wrapper), test::kTestNs);
    const auto children = wrapper.children();  // no white space between the parameters
    ASSERT_EQ(children.size(), 4u);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"password", "secret"}, {"projectId", "P1"}, {"langId", "1031"}, {"materialId", "4711"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(children[i].localName(), expected[i].first);
        EXPECT_EQ(namespaceOf(children[i]), test::kTestNs);
        EXPECT_EQ(children[i].text(), expected[i].second);
    }
}

TEST(SoapEnvelope, EveryTextSurvivesTheRoundTripExactly) {
    OperationInfo op;
    op.name = "Echo";
    op.wrapperName = "Echo";
    op.wrapperNamespace = "urn:echo";
    op.parameters = {{"value", ""}};
    const std::vector<std::string> texts = {"<root attr=\"x\">&amp;</root>",
                                            "a]]>b",
                                            "line1\r\nline2\rline3\n",
                                            "\ttab  spaces  ",
                                            "Grüße – 漢字 😀",
                                            "'quotes' \"double\"",
                                            "",
                                            "&#65; &lt; &unknown;"};
    for (const std::string& value : texts) {
        SCOPED_TRACE(value);
        const auto doc = xml::Document::loadMemory(buildRequestEnvelope(op, {value}));
        const xml::Node wrapper = bodyEntry(doc);
        EXPECT_EQ(namespaceOf(wrapper), "urn:echo");
        EXPECT_EQ(namespaceOf(wrapper.childElements().at(0)), "");  // unqualified stays so
        EXPECT_EQ(wrapper.childElements().at(0).text(), value);
    }
}

TEST(SoapEnvelope, NumbersAndBooleansUseSchemaLexicalForms) {
    EXPECT_EQ(lexicalForm(int16_t{-32768}), "-32768");
    EXPECT_EQ(lexicalForm(int32_t{2147483647}), "2147483647");
    EXPECT_EQ(lexicalForm(true), "true");
    EXPECT_EQ(lexicalForm(false), "false");
    EXPECT_EQ(lexicalForm(180000.0), "180000");
    EXPECT_EQ(lexicalForm(0.1), "0.1");
    EXPECT_EQ(lexicalForm(-2.5e-300), "-2.5e-300");
    EXPECT_EQ(lexicalForm(std::numeric_limits<double>::infinity()), "INF");
    EXPECT_EQ(lexicalForm(-std::numeric_limits<double>::infinity()), "-INF");
    EXPECT_EQ(lexicalForm(std::nan("")), "NaN");
    EXPECT_EQ(std::stod(lexicalForm(1.0 / 3.0)), 1.0 / 3.0);  // shortest text, same value
}

TEST(SoapEnvelope, CallsThatCannotMakeAValidRequestAreRefused) {
    const auto expectBadCall = [](const OperationInfo& op, const std::vector<Argument>& args,
                                  const std::string& fragment) {
        try {
            buildRequestEnvelope(op, args);
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.number, err::SoapBadCall);
            EXPECT_NE(e.description.find(fragment), std::string::npos) << e.description;
        }
    };
    const OperationInfo op = itemOperation();
    expectBadCall(op, {std::string("a"), std::string("b"), int16_t{1}},
                  "takes 4 argument(s), not 3");
    expectBadCall(op, {}, "not 0");
    const std::string ok = "x";
    expectBadCall(op, {ok, ok, int16_t{1}, std::string("bad \x01 control")},
                  "Argument 4 (materialId)");
    expectBadCall(op, {ok, ok, int16_t{1}, std::string("\xC3\x28")}, "not valid UTF-8");
    expectBadCall(op, {ok, ok, int16_t{1}, std::string("\xED\xA0\x80")},
                  "not valid UTF-8");  // a surrogate
    OperationInfo unsupported = op;
    unsupported.unsupportedReason = "uses xs:choice";
    expectBadCall(unsupported, {ok, ok, int16_t{1}, ok}, "xs:choice");
}

TEST(SoapEnvelope, RpcEncodedRequestsDeclareTheirTypes) {
    OperationInfo op;
    op.name = "GetItemData";
    op.style = BindingStyle::Rpc;
    op.use = BodyUse::Encoded;
    op.encodingStyle = "http://schemas.xmlsoap.org/soap/encoding/";
    op.wrapperName = "GetItemData";
    op.wrapperNamespace = "urn:rpc-ops";
    op.parameters = {{"text", ""}, {"small", ""}, {"flag", ""}};
    const auto doc =
        xml::Document::loadMemory(buildRequestEnvelope(op, {std::string("t"), int16_t{7}, true}));
    const xml::Node wrapper = bodyEntry(doc);
    EXPECT_EQ(namespaceOf(wrapper), "urn:rpc-ops");
    EXPECT_EQ(wrapper.attribute("soap:encodingStyle").value_or(""), op.encodingStyle);
    const auto children = wrapper.childElements();
    ASSERT_EQ(children.size(), 3u);
    EXPECT_EQ(children[0].attribute("xsi:type").value_or(""), "xsd:string");
    EXPECT_EQ(children[1].attribute("xsi:type").value_or(""), "xsd:short");
    EXPECT_EQ(children[2].attribute("xsi:type").value_or(""), "xsd:boolean");
    EXPECT_EQ(children[1].text(), "7");
}

TEST(SoapEnvelope, BareDocumentPartsAreBodyEntries) {
    OperationInfo op;
    op.name = "Ping";
    op.parameters = {{"first", "urn:one"}, {"second", "urn:two"}};
    const auto doc =
        xml::Document::loadMemory(buildRequestEnvelope(op, {std::string("1"), std::string("2")}));
    const auto entries = doc.root().childElements().at(0).childElements();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].localName(), "first");
    EXPECT_EQ(namespaceOf(entries[0]), "urn:one");
    EXPECT_EQ(namespaceOf(entries[1]), "urn:two");
    EXPECT_EQ(entries[1].text(), "2");
}

}  // namespace
}  // namespace ovk::soap
