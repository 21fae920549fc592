// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "platform/errors.hpp"
#include "soap/soap_client.hpp"
#include "soap_test_support.hpp"
#include "temp_dir.hpp"
#include "xml/document.hpp"

namespace ovk::soap {
namespace {

const std::vector<Argument> kItemArgs = {std::string("pw"), std::string("P1"), int16_t{1031},
                                         std::string("4711")};

class SoapClientCalls : public ::testing::Test {
  protected:
    void SetUp() override {
        client.initialize(dir.write("VelmoraSvr.wsdl", test::testWsdl(server.url())));
        ASSERT_EQ(client.faultCode(), "") << client.faultString();
    }

    test::SoapTestServer server;
    test::TempDir dir;
    SoapClient client;
};

TEST_F(SoapClientCalls, HelloWorldSendsTheWrappedRequestAndReturnsTheResultText) {
    server.answerWith(test::soapResponse("HelloWorld", "Hello World"));
    EXPECT_EQ(client.callText("HelloWorld", {}), "Hello World");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/svc.asmx");
    EXPECT_EQ(requests[0].soapAction, "\"urn:velmora:masterdata/HelloWorld\"");
    EXPECT_EQ(requests[0].contentType, "text/xml; charset=utf-8");
    const auto request = xml::Document::loadMemory(requests[0].body);
    const xml::Node wrapper = request.root().firstChild().firstChild();
    EXPECT_EQ(wrapper.localName(), "HelloWorld");
    EXPECT_FALSE(wrapper.hasChildNodes());
}

TEST_F(SoapClientCalls, ArgumentsGoOutInOrderAndEscaped) {
    server.answerWith(test::soapResponse("GetItemData", "<root/>"));
    client.call("GetItemData",
                {std::string("p<&>\"w"), std::string("P 1"), int16_t{-7}, std::string("A]]>B")});
    const auto request = xml::Document::loadMemory(server.requests().at(0).body);
    const auto parameters = request.root().firstChild().firstChild().childElements();
    ASSERT_EQ(parameters.size(), 4u);
    EXPECT_EQ(parameters[0].text(), "p<&>\"w");
    EXPECT_EQ(parameters[1].text(), "P 1");
    EXPECT_EQ(parameters[2].text(), "-7");
    EXPECT_EQ(parameters[3].text(), "A]]>B");
    EXPECT_EQ(parameters[3].localName(), "materialId");
}

TEST_F(SoapClientCalls, ReplyNodesArriveExactlyAsSentAndOutliveTheClient) {
    const std::string clientData =
        R"(<ClientData Version="1.0.18" Installer="http://x/setup.exe" Reserved="" BannerURL="http://x/b" )"
        R"(MailURL="mailto:a@b"><![CDATA[/9j/4AAQ]]><!-- kept --></ClientData>)";
    server.answerWith(
        test::soapResponse("GetClientData", clientData + "<Second a=\"1\">t</Second>"));

    std::optional<xml::NodeList> nodes;
    {
        SoapClient shortLived;
        shortLived.initialize(dir.path() / "VelmoraSvr.wsdl");
        nodes = shortLived.call("GetClientData", {std::string("6103"), int16_t{1031}});
    }
    ASSERT_TRUE(nodes);
    ASSERT_EQ(nodes->size(), 2u);
    const xml::Node data = nodes->first();
    EXPECT_EQ(data.name(), "ClientData");
    EXPECT_EQ(data.attributeAt(0), "1.0.18");
    EXPECT_EQ(data.attributeAt(1), "http://x/setup.exe");
    EXPECT_EQ(data.attributeAt(2), "");
    EXPECT_EQ(data.attributeAt(3), "http://x/b");
    EXPECT_EQ(data.attributeAt(4), "mailto:a@b");
    const auto children = data.children();
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0].kind(), xml::NodeKind::CData);
    EXPECT_EQ(children[0].text(), "/9j/4AAQ");
    EXPECT_EQ(children[1].kind(), xml::NodeKind::Comment);
    EXPECT_EQ((*nodes)[1].attribute("a"), "1");
}

TEST_F(SoapClientCalls, EmptyOrMissingResultGivesNothing) {
    for (const std::string& reply :
         {test::soapResponse("GetItemData", ""),
          test::soapEnvelope("<GetItemDataResponse xmlns=\"urn:x\"/>"),
          test::soapEnvelope("<GetItemDataResponse><GetItemDataResult/></GetItemDataResponse>"),
          test::soapEnvelope("")}) {
        SCOPED_TRACE(reply);
        server.answerWith(reply);
        EXPECT_FALSE(client.call("GetItemData", kItemArgs).has_value());
        EXPECT_EQ(client.faultCode(), "");
    }
}

TEST_F(SoapClientCalls, ResultElementIsFoundWhateverItsName) {
    // What counts is the single child of the response element, not its spelling.
    server.answerWith(test::soapEnvelope(
        "<m:Answer xmlns:m=\"urn:y\"><return><root><A/></root></return></m:Answer>"));
    const auto nodes = client.call("GetItemData", kItemArgs);
    ASSERT_TRUE(nodes);
    EXPECT_EQ(nodes->first().name(), "root");
}

TEST_F(SoapClientCalls, RpcEncodedReferenceIsFollowed) {
    server.answerWith(test::soapEnvelope(
        R"(<ns1:GetItemDataResponse xmlns:ns1="urn:rpc"><return href="#id0"/></ns1:GetItemDataResponse>)"
        R"(<multiRef id="id0" xmlns:enc="http://schemas.xmlsoap.org/soap/encoding/" enc:root="0"><root>x</root></multiRef>)"));
    const auto nodes = client.call("GetItemData", kItemArgs);
    ASSERT_TRUE(nodes);
    EXPECT_EQ(nodes->first().name(), "root");
}

// What a reader that keeps no tree is told, as one line.
struct EventLog : xml::ElementEvents {
    std::string log;
    void startElement(int depth, std::span<const xml::AttributeView> attributes) override {
        log += "<" + std::to_string(depth);
        for (const auto& a : attributes)
            log += " " + std::string(a.name) + "=" + std::string(a.value);
        log += ">";
    }
    void endElement(int depth) override { log += "</" + std::to_string(depth) + ">"; }
    void otherNode(int depth) override { log += "#" + std::to_string(depth); }
};

TEST_F(SoapClientCalls, AReplyReadAsItArrivesTellsWhatTheWholeReplyHolds) {
    const std::string header = "<soap:Header><h><deep a='1'/></h></soap:Header>";
    const std::vector<std::string> replies = {
        test::soapResponse("GetItemData", "<N ID='0' Value='R'><N ID='1' Value='A'/></N>"),
        test::soapResponse("GetItemData", "\n  <N ID='0'>\n    <N ID='1'/>\n  </N>\n"),
        test::soapResponse(
            "GetItemData",
            "<r>text<![CDATA[c]]><!--n--><?pi x?><c xmlns:p='urn:p' p:a='&amp;'/></r>"
            "<second/>"),
        test::soapResponse("GetItemData",
                           "<r a='x&amp;y&#38;z&lt;&#x41;&#10;' b='1\r\n2\t3'>a&amp;b<![CDATA[]]>"
                           "<e/>\n</r>"),
        // Another encoding, and names and characters outside ASCII.
        std::regex_replace(
            test::soapResponse("GetItemData", "<r a='M\xFCller &#xE9;'><e b='\xE4'/></r>"),
            std::regex("utf-8"), "ISO-8859-1"),
        test::soapResponse("GetItemData",
                           "<r xmlns='urn:d' a='M\xC3\xBCller &#x1F600;'><\xC3\xA9 b='1'/></r>"),
        test::soapEnvelope(header + "<GetItemDataResponse><GetItemDataResult><r a='1'/>"
                                    "</GetItemDataResult></GetItemDataResponse>"),
        test::soapEnvelope(
            R"(<multiRef id="id0" xmlns:enc="http://schemas.xmlsoap.org/soap/encoding/" enc:root="0"><r>x</r></multiRef>)"
            R"(<ns1:GetItemDataResponse xmlns:ns1="urn:rpc"><return href="#id0"/></ns1:GetItemDataResponse>)"),
        test::soapResponse("GetItemData", ""),
        test::soapEnvelope("<GetItemDataResponse><GetItemDataResult/></GetItemDataResponse>"),
        test::soapEnvelope(""),
    };
    for (const std::string& reply : replies) {
        SCOPED_TRACE(reply);
        server.answerWith(reply);
        EventLog whole;
        const auto nodes = client.call("GetItemData", kItemArgs);
        if (nodes) xml::walk(*nodes, whole);
        EventLog streamed;
        EXPECT_EQ(client.callStreamed("GetItemData", kItemArgs, streamed), nodes.has_value());
        EXPECT_EQ(streamed.log, whole.log);
        EXPECT_EQ(client.faultCode(), "");
    }
}

TEST_F(SoapClientCalls, OneConnectionCarriesManyCalls) {
    for (int i = 0; i < 5; ++i) client.callText("HelloWorld", {});
    std::set<int> ports;
    for (const auto& request : server.requests()) ports.insert(request.remotePort);
    EXPECT_EQ(server.requests().size(), 5u);
    EXPECT_EQ(ports.size(), 1u);
}

TEST_F(SoapClientCalls, SuccessfulCallClearsTheLastFault) {
    EXPECT_THROW(client.call("NoSuchOperation", {}), Error);
    EXPECT_NE(client.faultCode(), "");
    EXPECT_EQ(client.callText("HelloWorld", {}), "Hello World");
    EXPECT_EQ(client.faultCode(), "");
    EXPECT_EQ(client.faultString(), "");
    EXPECT_EQ(client.faultActor(), "");
}

TEST_F(SoapClientCalls, EndPointPropertyReplacesTheDescriptionsAddress) {
    test::SoapTestServer other;
    SoapClient redirected;  // gone (and its connection closed) before `other` stops
    redirected.initialize(dir.path() / "VelmoraSvr.wsdl");
    redirected.setProperty("EndPointURL", other.url());
    redirected.callText("HelloWorld", {});
    EXPECT_EQ(other.requests().size(), 1u);
    EXPECT_EQ(server.requests().size(), 0u);
}

TEST_F(SoapClientCalls, ConnectorPropertiesAreCheckedBeforeUse) {
    struct Case {
        std::string name;
        PropertyValue value;
    };
    const std::vector<Case> bad = {
        {"Colour", std::string("red")},
        {"EndPointURL", std::string("ftp://host/")},
        {"EndPointURL", std::string("")},
        {"EndPointURL", 5.0},
        {"ProxyServer", std::string("u:p@h:80")},
        {"ProxyServer", std::string("host:99999")},
        {"Timeout", std::string("100")},
        {"Timeout", std::nan("")},
        {"AuthUser", 1.0},
    };
    for (const Case& c : bad) {
        SCOPED_TRACE(c.name);
        try {
            client.setProperty(c.name, c.value);
            ADD_FAILURE() << "accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.number, err::SoapBadProperty);
            EXPECT_EQ(client.faultCode(), "Client.Property");
            EXPECT_EQ(client.faultString(), e.description);
        }
    }
    // Accepted forms, names compared without regard to case; a success clears the fault.
    client.setProperty("endpointurl", server.url());
    EXPECT_EQ(client.faultCode(), "");
    client.setProperty("ProxyServer", std::string(""));
    client.setProperty("Timeout", 0.0);
    client.setProperty("AuthUser", std::string(""));
    client.setProperty("AuthPassword", std::string(""));
    EXPECT_EQ(client.callText("HelloWorld", {}), "Hello World");
}

TEST(SoapClientDescription, MissingOrMalformedDescriptionSetsTheFaultTexts) {
    test::TempDir dir;
    const std::vector<std::filesystem::path> files = {dir / "absent.wsdl",
                                                      dir.write("broken.wsdl", "<wsdl:definitions"),
                                                      dir.write("empty.wsdl", "")};
    for (const auto& file : files) {
        SCOPED_TRACE(file);
        SoapClient client;
        EXPECT_NO_THROW(client.initialize(file));
        EXPECT_EQ(client.faultCode(), "Client.WSDL");
        EXPECT_NE(client.faultString(), "");
        EXPECT_EQ(client.faultActor(), file.string());
        try {
            client.callText("HelloWorld", {});
            ADD_FAILURE() << "call without a description";
        } catch (const Error& e) {
            EXPECT_EQ(e.number, err::SoapWsdl);
        }
    }
}

}  // namespace
}  // namespace ovk::soap
