// SPDX-License-Identifier: MIT
// The start-up against the reference service over HTTPS: which certificates the component
// trusts, how a user trusts a company authority, and what every refusal tells the host.

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "client_harness.hpp"
#include "component/soap_setup.hpp"
#include "component_folder.hpp"
#include "ref_service.hpp"
#include "scoped_environment.hpp"
#include "test_certificates.hpp"

namespace ovk {
namespace {

using test::ClientHarness;
using test::RefService;
using test::ScopedEnvironment;
using test::TestCertificates;

constexpr const char* kUnreachable = "Error Kommunikationsfehler: kann Service nicht erreichen";

// Where a user names the certificate authority to trust.
enum class TrustVia { Nothing, Setting, SslCertFile, CurlCaBundle };

struct StartupOverTls : ::testing::Test {
    static void SetUpTestSuite() { certificates_ = std::make_unique<TestCertificates>(); }
    static void TearDownTestSuite() { certificates_.reset(); }
    static const TestCertificates& certificates() { return *certificates_; }

    test::ComponentFolder component;
    test::TempDir work;
    // Whatever the machine running the tests trusts through the environment stays out.
    ScopedEnvironment noSslCertFile{"SSL_CERT_FILE", std::nullopt};
    ScopedEnvironment noCurlCaBundle{"CURL_CA_BUNDLE", std::nullopt};

    std::string document(const std::string& url) {
        return work
            .write("download.xml",
                   test::downloadDocument("TARVO", "<URL>" + url +
                                                       "</URL><ProjectID>DEMO</ProjectID>"
                                                       "<Language>English</Language>"
                                                       "<Password>demo</Password>"))
            .string();
    }

    // Runs Init on a fresh client that trusts `file` the way `via` says.
    int initTrusting(ClientHarness& h, TrustVia via, const std::filesystem::path& file,
                     const std::string& url) {
        std::optional<ScopedEnvironment> variable;
        if (via == TrustVia::Setting)
            h.settings->write(kSettingsApplication, "Settings", kCaFileSetting, file.string());
        if (via == TrustVia::SslCertFile) variable.emplace("SSL_CERT_FILE", file.string());
        if (via == TrustVia::CurlCaBundle) variable.emplace("CURL_CA_BUNDLE", file.string());
        return h.client->Init(document(url));
    }

    static void expectConnectionFailure(const ClientHarness& h, const std::string& start,
                                        const std::string& reason) {
        ASSERT_EQ(h.events.exceptions.size(), 1u) << ::testing::PrintToString(h.events.log);
        const auto& raised = h.events.exceptions[0];
        EXPECT_EQ(raised.number, 17);
        EXPECT_EQ(raised.source, "Init");
        EXPECT_EQ(raised.message.rfind(start, 0), 0u) << raised.message;
        EXPECT_NE(raised.message.find(reason), std::string::npos) << raised.message;
        EXPECT_EQ(h.client->ValidationErrorCodes(), raised.message);
    }

  private:
    static inline std::unique_ptr<TestCertificates> certificates_;
};

TEST_F(StartupOverTls, ACompanyAuthorityIsTrustedThroughTheSettingOrTheEnvironment) {
    RefService service(certificates().loopback().serveArgs());
    ASSERT_EQ(service.url().rfind("https://127.0.0.1:", 0), 0u) << service.url();
    struct Case {
        const char* name;
        TrustVia via;
        std::filesystem::path file;
        std::string url;
    };
    for (const Case& c : {
             Case{"setting", TrustVia::Setting, certificates().authority(), service.url()},
             Case{"setting, DER file", TrustVia::Setting, certificates().authorityDer(),
                  service.url()},
             Case{"SSL_CERT_FILE", TrustVia::SslCertFile, certificates().authority(),
                  service.url()},
             Case{"CURL_CA_BUNDLE", TrustVia::CurlCaBundle, certificates().authority(),
                  service.url()},
         }) {
        SCOPED_TRACE(c.name);
        ClientHarness h{true};
        EXPECT_EQ(initTrusting(h, c.via, c.file, c.url), 0);
        EXPECT_TRUE(h.events.log.empty()) << ::testing::PrintToString(h.events.log);
        EXPECT_GT(std::filesystem::file_size(work / "Banner1.jpg"), 100u);
    }
}

TEST_F(StartupOverTls, EveryRefusedConnectionSaysWhyInWordsAUserUnderstands) {
    struct Case {
        const char* name;
        std::vector<std::string> serveArgs;
        TrustVia via;
        bool plainAddress;  // the document names the service with http://
        const char* reason;
    };
    const auto& certs = certificates();
    for (const Case& c : {
             Case{"authority not named", certs.loopback().serveArgs(), TrustVia::Nothing, false,
                  "is not trusted"},
             Case{"unknown authority", certs.untrusted().serveArgs(), TrustVia::Setting, false,
                  "is not trusted"},
             Case{"another host name", certs.otherName().serveArgs(), TrustVia::Setting, false,
                  "issued for another host name"},
             Case{"expired", certs.expired().serveArgs(), TrustVia::Setting, false, "has expired"},
             Case{"service without TLS", {}, TrustVia::Setting, false, "does not speak TLS"},
             Case{"http:// to a TLS service", certs.loopback().serveArgs(), TrustVia::Setting, true,
                  "If it speaks only TLS, its address must start with https://"},
         }) {
        SCOPED_TRACE(c.name);
        RefService service(c.serveArgs);
        std::string url = service.url();
        if (url.rfind("http://", 0) == 0 && !c.plainAddress) url.insert(4, "s");
        if (url.rfind("https://", 0) == 0 && c.plainAddress) url.erase(4, 1);
        ClientHarness h{true};
        h.failFast();
        EXPECT_EQ(initTrusting(h, c.via, certs.authority(), url), -9);
        expectConnectionFailure(h, kUnreachable, c.reason);
    }
}

TEST_F(StartupOverTls, AnUnusableCertificateFileFailsTheStartUpNamingTheFile) {
    RefService service(certificates().loopback().serveArgs());
    const auto missing = work / "no-such-authority.pem";
    const auto notACertificate = work.write("notes.pem", "just some text\n");
    const std::string authority = test::readAll(certificates().authority());
    const auto cutShort = work.write("cut-short.pem", authority.substr(0, authority.size() / 2));
    struct Case {
        TrustVia via;
        std::filesystem::path file;
        const char* start;
        const char* reason;
    };
    for (const Case& c : {
             Case{TrustVia::Setting, missing, "Error by set CAFile", "cannot be read"},
             Case{TrustVia::Setting, notACertificate, "Error by set CAFile",
                  "holds no certificate"},
             Case{TrustVia::Setting, cutShort, "Error by set CAFile", "broken certificate"},
             Case{TrustVia::SslCertFile, missing, kUnreachable, "the variable SSL_CERT_FILE"},
             Case{TrustVia::CurlCaBundle, work.path(), kUnreachable, "is a folder"},
         }) {
        SCOPED_TRACE(c.file.string());
        ClientHarness h{true};
        EXPECT_EQ(initTrusting(h, c.via, c.file, service.url()), -9);
        expectConnectionFailure(h, c.start, c.reason);
        EXPECT_NE(h.events.exceptions.at(0).message.find(c.file.string()), std::string::npos);
    }
}

}  // namespace
}  // namespace ovk
