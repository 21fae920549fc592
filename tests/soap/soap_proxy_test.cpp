// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "platform/errors.hpp"
#include "scoped_environment.hpp"
#include "soap/soap_client.hpp"
#include "soap_test_support.hpp"
#include "temp_dir.hpp"
#include "test_certificates.hpp"
#include "tinyproxy.hpp"

namespace ovk::soap {
namespace {

using test::kTinyproxy;
using test::Tinyproxy;

class SoapClientProxy : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::access(kTinyproxy, X_OK) != 0) GTEST_SKIP() << "tinyproxy is not installed";
        client.initialize(dir.write("svc.wsdl", test::testWsdl(server.url())));
        // A proxy that stops answering fails the test in seconds, not at the suite's bound.
        client.setProperty("Timeout", 30000.0);
    }

    void useProxy(const Tinyproxy& proxy, const std::string& user, const std::string& password) {
        ASSERT_TRUE(proxy.running());
        client.setProperty("ProxyServer", proxy.hostPort());
        if (!user.empty()) {
            client.setProperty("AuthUser", user);
            client.setProperty("AuthPassword", password);
        }
    }

    bool lastRequestCameThroughTinyproxy() {
        const auto requests = server.requests();
        return !requests.empty() && requests.back().via.find("tinyproxy") != std::string::npos;
    }

    test::SoapTestServer server;
    test::TempDir dir;
    SoapClient client;
};

TEST_F(SoapClientProxy, CallGoesThroughAnOpenProxy) {
    Tinyproxy proxy(dir, "");
    useProxy(proxy, "", "");
    EXPECT_EQ(client.callText("HelloWorld", {}), "Hello World");
    EXPECT_TRUE(lastRequestCameThroughTinyproxy());
}

TEST_F(SoapClientProxy, CallGoesThroughAProxyWithBasicCredentials) {
    Tinyproxy proxy(dir, "ovkuser s3cr3t-pass");
    useProxy(proxy, "ovkuser", "s3cr3t-pass");
    client.setProperty("ProxyServer", "HTTP://" + proxy.hostPort());  // the address form works too
    EXPECT_EQ(client.callText("HelloWorld", {}), "Hello World");
    EXPECT_TRUE(lastRequestCameThroughTinyproxy());
}

TEST_F(SoapClientProxy, RefusedCredentialsFailClearlyWithoutShowingThePassword) {
    Tinyproxy proxy(dir, "ovkuser s3cr3t-pass");
    for (const auto& [user, password] : std::vector<std::pair<std::string, std::string>>{
             {"ovkuser", "wrong-Pa55word"}, {"", ""}}) {
        SCOPED_TRACE(user);
        SoapClient fresh;
        fresh.initialize(dir / "svc.wsdl");
        fresh.setProperty("ProxyServer", proxy.hostPort());
        if (!user.empty()) {
            fresh.setProperty("AuthUser", user);
            fresh.setProperty("AuthPassword", password);
        }
        try {
            fresh.callText("HelloWorld", {});
            ADD_FAILURE() << "the proxy let the call through";
        } catch (const Error& e) {
            // No credentials: 407. Wrong ones: tinyproxy says 401, which through a proxy may
            // come from either side; both name the credentials as the cause.
            if (user.empty()) {
                EXPECT_EQ(e.number, err::SoapConnection);
                EXPECT_EQ(fresh.faultCode(), "Client.ProxyAuthentication");
                EXPECT_NE(fresh.faultString().find("407"), std::string::npos)
                    << fresh.faultString();
            } else {
                EXPECT_TRUE(e.number == err::SoapConnection || e.number == err::SoapHttpStatus)
                    << e.number;
            }
            EXPECT_NE(fresh.faultString().find("refused the credentials"), std::string::npos)
                << fresh.faultString();
            for (const std::string& text :
                 {e.description, fresh.faultString(), fresh.faultActor()}) {
                EXPECT_EQ(text.find("wrong-Pa55word"), std::string::npos);
            }
        }
    }
    EXPECT_TRUE(server.requests().empty());
}

// An https:// end point behind a proxy is reached through a CONNECT tunnel: the proxy learns
// the address and checks its credentials, and nothing of them travels on to the service.
TEST(SoapClientProxyTunnel, HttpsGoesThroughATunnelAndTheCredentialsStayWithTheProxy) {
    if (::access(kTinyproxy, X_OK) != 0) GTEST_SKIP() << "tinyproxy is not installed";
    const test::ScopedEnvironment noSslCertFile("SSL_CERT_FILE", std::nullopt);
    const test::ScopedEnvironment noCurlCaBundle("CURL_CA_BUNDLE", std::nullopt);
    const test::TestCertificates certificates;
    test::SoapTestServer server(certificates.loopback().certificate, certificates.loopback().key);
    test::TempDir dir;
    Tinyproxy proxy(dir, "ovkuser s3cr3t-pass");
    ASSERT_TRUE(proxy.running());
    const auto wsdl = dir.write("svc.wsdl", test::testWsdl(server.url()));

    for (const std::string password : {"s3cr3t-pass", "wrong-Pa55word"}) {
        SCOPED_TRACE(password);
        SoapClient client;
        client.initialize(wsdl);
        client.setProperty("CAFile", certificates.authority().string());
        client.setProperty("ProxyServer", proxy.hostPort());
        client.setProperty("AuthUser", "ovkuser");
        client.setProperty("AuthPassword", password);
        const auto before = server.requests().size();
        if (password == "s3cr3t-pass") {
            EXPECT_EQ(client.callText("HelloWorld", {}), "Hello World");
            ASSERT_EQ(server.requests().size(), before + 1);
            const auto request = server.requests().back();
            // A proxy that forwarded the request itself would have added its Via header.
            EXPECT_EQ(request.via, "");
            EXPECT_EQ(request.proxyAuthorization, "");
            EXPECT_EQ(request.authorization, "");
        } else {
            EXPECT_THROW(client.callText("HelloWorld", {}), Error);
            // Refused at CONNECT, the answer can only be the proxy's, whatever status it uses.
            EXPECT_EQ(client.faultCode(), "Client.ProxyAuthentication") << client.faultString();
            EXPECT_EQ(client.faultString().find(password), std::string::npos);
            EXPECT_EQ(server.requests().size(), before);
        }
    }
}

}  // namespace
}  // namespace ovk::soap
