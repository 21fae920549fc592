// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "platform/errors.hpp"
#include "soap/service_description.hpp"
#include "soap_test_support.hpp"
#include "temp_dir.hpp"

namespace ovk::soap {
namespace {

std::vector<std::string> names(const OperationInfo& op) {
    std::vector<std::string> result;
    for (const auto& p : op.parameters) result.push_back(p.name);
    return result;
}

// An rpc service: parts are the parameters, soap:body names the wrapper's namespace.
std::string rpcWsdl(const std::string& use) {
    return R"(<?xml version="1.0"?>
<definitions xmlns="http://schemas.xmlsoap.org/wsdl/" xmlns:soap="http://schemas.xmlsoap.org/wsdl/soap/"
    xmlns:xsd="http://www.w3.org/2001/XMLSchema" xmlns:tns="urn:rpc-test" targetNamespace="urn:rpc-test">
  <message name="GetItemDataRequest">
    <part name="password" type="xsd:string"/>
    <part name="projectId" type="xsd:string"/>
    <part name="langId" type="xsd:short"/>
    <part name="materialId" type="xsd:string"/>
  </message>
  <message name="GetItemDataResponse"><part name="return" type="xsd:anyType"/></message>
  <portType name="RpcPort">
    <operation name="GetItemData"><input message="tns:GetItemDataRequest"/><output message="tns:GetItemDataResponse"/></operation>
  </portType>
  <binding name="RpcBinding" type="tns:RpcPort">
    <soap:binding style="rpc" transport="http://schemas.xmlsoap.org/soap/http"/>
    <operation name="GetItemData"><soap:operation soapAction="urn:rpc-test#GetItemData"/>
      <input><soap:body use=")" +
           use +
           R"(" namespace="urn:rpc-ops" encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"/></input>
      <output><soap:body use=")" +
           use + R"(" namespace="urn:rpc-ops"/></output>
    </operation>
  </binding>
  <service name="RpcService">
    <port name="RpcPort" binding="tns:RpcBinding"><soap:address location="http://rpc.example/endpoint"/></port>
  </service>
</definitions>)";
}

TEST(SoapServiceDescription, DocumentLiteralWrappedGivesEndpointActionsAndParameterOrder) {
    const auto description = ServiceDescription::parse(test::testWsdl("http://svc.example/a.asmx"));

    EXPECT_EQ(description.endpoint(), "http://svc.example/a.asmx");  // the SOAP 1.1 port, not 1.2
    EXPECT_EQ(description.portName(), "SvrSoap");
    ASSERT_EQ(description.operations().size(), 3u);

    const OperationInfo* item = description.find("GetItemData");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->soapAction, "urn:velmora:masterdata/GetItemData");
    EXPECT_EQ(item->style, BindingStyle::Document);
    EXPECT_EQ(item->use, BodyUse::Literal);
    EXPECT_EQ(item->wrapperName, "GetItemData");
    EXPECT_EQ(item->wrapperNamespace, "urn:velmora:masterdata");
    // Declared through a named complex type.
    EXPECT_EQ(names(*item),
              (std::vector<std::string>{"password", "projectId", "langId", "materialId"}));
    for (const auto& p : item->parameters) EXPECT_EQ(p.namespaceUri, "urn:velmora:masterdata");
    EXPECT_TRUE(item->responseWrapped);

    const OperationInfo* hello = description.find("HelloWorld");
    ASSERT_NE(hello, nullptr);
    EXPECT_TRUE(hello->parameters.empty());
    EXPECT_EQ(hello->soapAction, "urn:velmora:masterdata/HelloWorld");

    EXPECT_EQ(description.find("helloworld"), nullptr);  // operation names are case-sensitive
    EXPECT_EQ(description.find("Missing"), nullptr);
}

TEST(SoapServiceDescription, ChildrenFollowElementFormDefaultFormAndRef) {
    std::string wsdl = test::testWsdl();
    // Unqualified by default; one child qualified by form, one brought in by ref.
    test::replaceOnce(wsdl, R"(elementFormDefault="qualified")",
                      R"(elementFormDefault="unqualified")");
    test::replaceOnce(
        wsdl, R"(<s:element name="clientId" type="s:string"/>)",
        R"(<s:element name="clientId" form="qualified" type="s:string"/><s:element ref="tns:Extra"/>)");
    test::replaceOnce(wsdl, R"(<s:element name="HelloWorld">)",
                      R"(<s:element name="Extra" type="s:string"/><s:element name="HelloWorld">)");

    const auto description = ServiceDescription::parse(wsdl);
    const OperationInfo* op = description.find("GetClientData");
    ASSERT_NE(op, nullptr);
    ASSERT_EQ(names(*op), (std::vector<std::string>{"clientId", "Extra", "guiLangId"}));
    EXPECT_EQ(op->parameters[0].namespaceUri, "urn:velmora:masterdata");
    EXPECT_EQ(op->parameters[1].namespaceUri, "urn:velmora:masterdata");
    EXPECT_EQ(op->parameters[2].namespaceUri, "");
}

TEST(SoapServiceDescription, RpcLiteralAndEncodedUseOperationNameAndBodyNamespace) {
    for (const std::string use : {"literal", "encoded"}) {
        SCOPED_TRACE(use);
        const auto description = ServiceDescription::parse(rpcWsdl(use));
        EXPECT_EQ(description.endpoint(), "http://rpc.example/endpoint");
        const OperationInfo* op = description.find("GetItemData");
        ASSERT_NE(op, nullptr);
        EXPECT_EQ(op->style, BindingStyle::Rpc);
        EXPECT_EQ(op->soapAction, "urn:rpc-test#GetItemData");
        EXPECT_EQ(op->wrapperName, "GetItemData");
        EXPECT_EQ(op->wrapperNamespace, "urn:rpc-ops");
        EXPECT_EQ(names(*op),
                  (std::vector<std::string>{"password", "projectId", "langId", "materialId"}));
        for (const auto& p : op->parameters) EXPECT_EQ(p.namespaceUri, "");
        EXPECT_EQ(op->use, use == "encoded" ? BodyUse::Encoded : BodyUse::Literal);
        if (use == "encoded") {
            EXPECT_EQ(op->encodingStyle, "http://schemas.xmlsoap.org/soap/encoding/");
        }
    }
}

TEST(SoapServiceDescription, ConstructOutsideTheClientsReachOnlyDisablesThatOperation) {
    std::string wsdl = test::testWsdl();
    test::replaceOnce(
        wsdl, R"(<s:element name="clientId" type="s:string"/>)",
        R"(<s:choice><s:element name="a" type="s:string"/><s:element name="b" type="s:string"/></s:choice>)");
    const auto description = ServiceDescription::parse(wsdl);
    ASSERT_NE(description.find("GetClientData"), nullptr);
    EXPECT_NE(description.find("GetClientData")->unsupportedReason.find("xs:choice"),
              std::string::npos);
    EXPECT_TRUE(description.find("GetItemData")->unsupportedReason.empty());
}

TEST(SoapServiceDescription, UnusableDescriptionsFailWithReason) {
    test::TempDir dir;
    const auto expectWsdlError = [](auto&& load, const std::string& fragment) {
        try {
            load();
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.number, err::SoapWsdl);
            EXPECT_NE(e.description.find(fragment), std::string::npos) << e.description;
        }
    };
    expectWsdlError([&] { ServiceDescription::load(dir / "absent.wsdl"); }, "not found");
    const auto broken = dir.write(
        "broken.wsdl", "<wsdl:definitions xmlns:wsdl='http://schemas.xmlsoap.org/wsdl/'>");
    expectWsdlError([&] { ServiceDescription::load(broken); }, "not well-formed");
    const auto notWsdl = dir.write("other.wsdl", "<definitions/>");
    expectWsdlError([&] { ServiceDescription::load(notWsdl); }, "not a WSDL");
    std::string noPort = test::testWsdl();
    test::replaceOnce(noPort, "<soap:address ", "<soap:addressX ");
    expectWsdlError([&] { ServiceDescription::parse(noPort); }, "SOAP 1.1 address");
    std::string noMessage = test::testWsdl();
    test::replaceOnce(noMessage, "message=\"tns:GetItemDataIn\"", "message=\"tns:Nowhere\"");
    expectWsdlError([&] { ServiceDescription::parse(noMessage); }, "Nowhere");
}

TEST(SoapServiceDescription, ShippedDescriptionOffersTheServiceContract) {
    const std::filesystem::path shipped = std::filesystem::path(OVK_DATA_DIR) / "VelmoraSvr.wsdl";
    if (!std::filesystem::exists(shipped)) GTEST_SKIP() << "no " << shipped;
    const auto description = ServiceDescription::load(shipped);
    const std::vector<std::string> request = {"password", "projectId", "langId"};
    const auto withRequest = [&](std::string last) {
        auto all = request;
        if (!last.empty()) all.push_back(last);
        return all;
    };
    const std::map<std::string, std::vector<std::string>> expected = {
        {"HelloWorld", {}},
        {"GetClientData", {"clientId", "guiLangId"}},
        {"getStructure", withRequest("")},
        {"GetDefaultSelect", withRequest("")},
        {"getTreeData", withRequest("fieldList")},
        {"GetSelectionData", withRequest("nodeKey")},
        {"GetItemData", withRequest("materialId")},
    };
    for (const auto& [operation, parameters] : expected) {
        SCOPED_TRACE(operation);
        const OperationInfo* op = description.find(operation);
        ASSERT_NE(op, nullptr);
        EXPECT_TRUE(op->unsupportedReason.empty());
        EXPECT_EQ(names(*op), parameters);
        EXPECT_EQ(op->soapAction, "urn:velmora:masterdata/" + operation);
    }
}

}  // namespace
}  // namespace ovk::soap
