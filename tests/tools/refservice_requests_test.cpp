// SPDX-License-Identifier: MIT
// What the service does with requests that are not what it expects, its description endpoint
// and its command line.

#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>

#include "soap_test_client.hpp"
#include "support/ref_service.hpp"
#include "support/temp_dir.hpp"
#include "support/test_certificates.hpp"
#include "tool_process.hpp"

namespace ovk::test {
namespace {

class RefServiceRequests : public SharedRefServiceTest {};

TEST_F(RefServiceRequests, ListensOnLoopbackAndServesItsDescriptionWithItsOwnAddress) {
    EXPECT_EQ(service().url().rfind("http://127.0.0.1:", 0), 0u);
    for (const char* path : {"/?wsdl", "/?WSDL", "/VelmoraSvr.wsdl"}) {
        const auto [status, body] = httpGet(service(), path);
        ASSERT_EQ(status, 200) << path;
        const auto wsdl = xml::Document::loadMemory(body);
        const auto address = wsdl.selectSingleNode("//*[local-name()='address']");
        EXPECT_EQ(address.attribute("location"), service().url());
        EXPECT_EQ(
            wsdl.selectNodes("//*[local-name()='binding']/*[local-name()='operation']").size(), 7u);
    }
    EXPECT_EQ(httpGet(service(), "/elsewhere").first, 404);
}

TEST_F(RefServiceRequests, RequestsThatAreNotRequestsOfTheServiceGetAClientFault) {
    const std::string envelopeStart =
        "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>";
    const std::string envelopeEnd = "</s:Body></s:Envelope>";
    const std::string cases[] = {
        "",
        "not xml at all",
        envelopeStart + envelopeEnd,
        envelopeStart + "<Unknown xmlns=\"urn:velmora:masterdata\"/>" + envelopeEnd,
        envelopeStart + "<HelloWorld xmlns=\"urn:somebody:else\"/>" + envelopeEnd,
        envelopeStart +
            "<getStructure "
            "xmlns=\"urn:velmora:masterdata\"><langId>German</langId></getStructure>" +
            envelopeEnd,
        envelopeStart +
            "<getStructure xmlns=\"urn:velmora:masterdata\"><langId>70000</langId></getStructure>" +
            envelopeEnd,
        "<!DOCTYPE x [<!ENTITY e \"boom\">]>" + envelopeStart + "<HelloWorld/>" + envelopeEnd,
        envelopeStart + "<HelloWorld xmlns=\"urn:velmora:masterdata\">" + envelopeEnd,
    };
    for (const auto& body : cases) {
        const auto reply = postRaw(service(), body);
        EXPECT_EQ(reply.status, 500) << body;
        EXPECT_EQ(reply.faultCode(), "soap:Client") << body << "\n" << reply.body;
    }
}

TEST_F(RefServiceRequests, EnvelopeOutsideTheSoap11NamespaceGetsAVersionMismatchFault) {
    for (const std::string body :
         {"<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"><e:Body>"
          "<HelloWorld xmlns=\"urn:velmora:masterdata\"/></e:Body></e:Envelope>",
          "<Envelope><Body><HelloWorld/></Body></Envelope>"}) {
        const auto reply = postRaw(service(), body);
        EXPECT_EQ(reply.status, 500);
        EXPECT_EQ(reply.faultCode(), "soap:VersionMismatch") << body;
    }
}

TEST_F(RefServiceRequests, SoapActionMayNameTheOperationButNotContradictTheBody) {
    const std::string body = requestEnvelope("HelloWorld", {});
    EXPECT_EQ(postRaw(service(), body).status, 200);
    EXPECT_EQ(
        postRaw(service(), body, {{"SOAPAction", "urn:velmora:masterdata/HelloWorld"}}).status,
        200);
    const auto contradicted =
        postRaw(service(), body, {{"SOAPAction", "\"urn:velmora:masterdata/GetItemData\""}});
    EXPECT_EQ(contradicted.status, 500);
    EXPECT_EQ(contradicted.faultCode(), "soap:Client");
}

TEST_F(RefServiceRequests, UnqualifiedArgumentsAreReadLikeQualifiedOnes) {
    const auto reply = postRaw(
        service(),
        "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
        "<getStructure xmlns=\"urn:velmora:masterdata\"><password xmlns=\"\">demo</password>"
        "<projectId xmlns=\"\">DEMO</projectId><langId xmlns=\"\"> 1031 </langId></getStructure>"
        "</s:Body></s:Envelope>");
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(reply.resultElements()[0].localName(), "Structure");
}

TEST(RefServiceCommandLine, HelpNamesEveryFaultKind) {
    const auto help = runTool("--help");
    EXPECT_EQ(help.exitCode, 0);
    for (const char* kind : {"http500", "soapfault", "malformed", "truncated", "hang", "exception",
                             "empty", "elementstream", "hugefault", "badcdata", "--latency-ms",
                             "--client-version", "--hello", "--generate", "--seed", "--tls-cert"})
        EXPECT_NE(help.output.find(kind), std::string::npos) << kind;
}

TEST(RefServiceCommandLine, BadOptionsAreRefusedWithAReasonBeforeAnythingIsServed) {
    for (const char* args : {"--bogus", "--catalog", "--fault GetItemData", "--fault Nope=hang",
                             "--fault GetItemData=explode", "--fault HelloWorld=exception",
                             "--port 70000", "--latency-ms -1", "--generate 10",
                             "--generate ten --out /tmp/x", "--fault GetItemData=elementstream:12Q",
                             "--fault GetItemData=http500:4K", "--tls-cert /tmp/x.pem"}) {
        const auto result = runTool(std::string(args) + " --catalog " OVK_EXAMPLES_DIR "/catalog");
        EXPECT_EQ(result.exitCode, 2) << args << ": " << result.output;
        EXPECT_NE(result.output.find("ovk-refservice: "), std::string::npos) << args;
        EXPECT_EQ(result.output.find("listening"), std::string::npos) << args;
    }
    EXPECT_EQ(runTool("").exitCode, 2);  // nothing to serve
}

TEST(RefServiceCommandLine, ServesHttpsWithTheGivenCertificateAndRefusesAKeyThatDoesNotFit) {
    const TestCertificates certificates;
    {
        RefService service(certificates.loopback().serveArgs());
        ASSERT_EQ(service.url().rfind("https://127.0.0.1:", 0), 0u) << service.url();
        httplib::SSLClient client("127.0.0.1", service.port());
        client.set_ca_cert_path(certificates.authority().c_str());
        client.enable_server_certificate_verification(true);
        const auto reply = client.Get("/?wsdl");
        ASSERT_TRUE(reply) << httplib::to_string(reply.error());
        EXPECT_EQ(reply->status, 200);
        EXPECT_NE(reply->body.find("location=\"" + service.url() + "\""), std::string::npos);
    }
    const auto result = runTool("--catalog " OVK_EXAMPLES_DIR "/catalog --tls-cert '" +
                                certificates.loopback().certificate.string() + "' --tls-key '" +
                                certificates.expired().key.string() + "'");
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_NE(result.output.find(certificates.loopback().certificate.string()), std::string::npos)
        << result.output;
    EXPECT_EQ(result.output.find("listening"), std::string::npos);
}

TEST(RefServiceCommandLine, UnusableCatalogueIsRefusedNamingTheEntry) {
    TempDir dir;
    dir.write("catalog.json",
              R"({"projects":[{"id":"P","languages":[1033],"fields":[{"id":1,"name":"F"}],)"
              R"("articles":[{"id":"A"},{"id":"A"}]}]})");
    auto result = runTool("--catalog '" + dir.path().string() + "'");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.output.find("projects[0].articles[1]"), std::string::npos) << result.output;

    dir.write("catalog.json",
              R"({"projects":[{"id":"P","languages":[1033],"fields":[],)"
              R"("articles":[{"id":"A","documents":[{"name":"a.pdf","file":"missing.pdf"}]}]}]})");
    result = runTool("--catalog '" + dir.path().string() + "'");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.output.find("missing.pdf"), std::string::npos) << result.output;

    result = runTool("--catalog '" + (dir / "nothing-here").string() + "'");
    EXPECT_EQ(result.exitCode, 1);
}

TEST(RefServiceCommandLine, CatalogueWithoutBannerStillSendsAPicture) {
    TempDir dir;
    dir.write("catalog.json", R"({"projects":[]})");
    RefService service(dir.path(), {});
    const auto data = call(service, "GetClientData", {{"clientId", "6103"}, {"guiLangId", "1033"}});
    const auto element = data.resultElements().at(0);
    EXPECT_EQ(element.attributeAt(0), OVK_VERSION_TEXT);
    EXPECT_EQ(element.firstChild().kind(), xml::NodeKind::CData);
    EXPECT_FALSE(element.firstChild().text().empty());
}

TEST(RefServiceCommandLine, DocumentRemovedAfterLoadingGivesAServerFaultNotACutReply) {
    TempDir dir;
    dir.write("doc.bin", std::string(5000, 'x'));
    dir.write("catalog.json",
              R"({"projects":[{"id":"P","password":"p","languages":[1033],"fields":[],)"
              R"("articles":[{"id":"A","documents":[{"name":"a.bin","file":"doc.bin"}]}]}]})");
    RefService service(dir.path(), {});
    auto args = projectArguments("p", "P", 1033);
    args.emplace_back("materialId", "A");
    EXPECT_EQ(call(service, "GetItemData", args).status, 200);
    std::filesystem::remove(dir / "doc.bin");
    const auto reply = call(service, "GetItemData", args);
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.faultCode(), "soap:Server");
}

}  // namespace
}  // namespace ovk::test
