// SPDX-License-Identifier: MIT
// The service set-up with the real SOAP client against the reference service on loopback.

#include <gtest/gtest.h>

#include "component/soap_setup.hpp"
#include "component_folder.hpp"
#include "ref_service.hpp"
#include "soap/soap_client.hpp"
#include "tinyproxy.hpp"

namespace ovk {
namespace {

using test::ComponentFolder;
using test::RefService;

constexpr const char* kUnreachable = "Error Kommunikationsfehler: kann Service nicht erreichen";

struct SoapSetupWithService : ::testing::Test {
    ComponentFolder component;
    MemorySettingsStore store;
    soap::SoapClient client;

    std::string setUp(const ConnectionSettings& settings) {
        return SetupSoapClient(client, settings, store);
    }
    // See ClientHarness::failFast.
    void failFast() { store.write(kSettingsApplication, "Settings", kRetryAttemptsSetting, "0"); }
    std::string storedTimeout() const {
        return store.readText(kSettingsApplication, "Settings", "SOAPTimeout");
    }
};

TEST_F(SoapSetupWithService, GreetsTheServiceWhateverTheCaseOfItsAnswer) {
    RefService service({"--hello", "hElLo wOrLd"});
    EXPECT_EQ(setUp({.serviceUrl = service.url()}), "OK");
    EXPECT_EQ(storedTimeout(), "180000");
}

TEST_F(SoapSetupWithService, AnyOtherAnswerIsAnErrorWithTheEmptyFaultString) {
    RefService service({"--hello", "Goodbye"});
    EXPECT_EQ(setUp({.serviceUrl = service.url()}), "Error ");
}

TEST_F(SoapSetupWithService, StoredTimeoutsAreUsedRaisedOrReset) {
    RefService service;
    for (const auto& [stored, written] : std::vector<std::pair<std::string, std::string>>{
             {"250000", "250000"}, {"5", "180000"}, {"soon", "0"}, {"0", "180000"}}) {
        store.write(kSettingsApplication, "Settings", "SOAPTimeout", stored);
        // A time-out of 0 must still reach the service: it is no "wait forever".
        EXPECT_EQ(setUp({.serviceUrl = service.url()}), "OK") << stored;
        EXPECT_EQ(storedTimeout(), written) << stored;
    }
}

TEST_F(SoapSetupWithService, AnEmptyServiceUrlKeepsTheDescriptionsAddress) {
    RefService service;
    std::string wsdl = test::readAll(component.path() / "VelmoraSvr.wsdl");
    const std::string placeholder = "http://127.0.0.1:8080/";
    wsdl.replace(wsdl.find(placeholder), placeholder.size(), service.url());
    component.write("VelmoraSvr.wsdl", wsdl);
    EXPECT_EQ(setUp({}), "OK");
}

TEST_F(SoapSetupWithService, AnUnreachableServiceIsACommunicationError) {
    std::string url;
    {
        RefService service;
        url = service.url();
    }
    failFast();
    const std::string result = setUp({.serviceUrl = url});
    EXPECT_EQ(result.rfind(kUnreachable, 0), 0u) << result;
    EXPECT_GT(result.size(), std::string(kUnreachable).size());  // followed by the fault string
}

TEST_F(SoapSetupWithService, AMissingDescriptionIsReportedWithItsFaultTexts) {
    component.remove("VelmoraSvr.wsdl");
    const std::string result = setUp({.serviceUrl = "http://127.0.0.1:1/"});
    EXPECT_EQ(result.rfind("Error by load wsdl", 0), 0u) << result;
    EXPECT_NE(result.find("\r\n"), std::string::npos);
    EXPECT_EQ(storedTimeout(), "180000");
}

TEST_F(SoapSetupWithService, AProxyWithoutAPortIsTriedAtPortZeroAndFails) {
    RefService service;
    failFast();
    const std::string result =
        setUp({.serviceUrl = service.url(), .proxyIp = "127.0.0.1", .proxyPort = 0});
    EXPECT_EQ(result.rfind(kUnreachable, 0), 0u) << result;
}

TEST_F(SoapSetupWithService, GoesThroughAProxyWithAndWithoutCredentials) {
    if (::access(test::kTinyproxy, X_OK) != 0) GTEST_SKIP() << "tinyproxy is not installed";
    RefService service;
    test::TempDir dir;
    {
        test::Tinyproxy open(dir, "");
        ASSERT_TRUE(open.running());
        const std::string hostPort = open.hostPort();
        const auto colon = hostPort.rfind(':');
        EXPECT_EQ(setUp({.serviceUrl = service.url(),
                         .proxyIp = hostPort.substr(0, colon),
                         .proxyPort = std::stoi(hostPort.substr(colon + 1))}),
                  "OK");
    }
    test::Tinyproxy guarded(dir, "alice s3cret");
    ASSERT_TRUE(guarded.running());
    const std::string hostPort = guarded.hostPort();
    const auto colon = hostPort.rfind(':');
    ConnectionSettings settings{.serviceUrl = service.url(),
                                .proxyIp = hostPort.substr(0, colon),
                                .proxyPort = std::stoi(hostPort.substr(colon + 1)),
                                .proxyUserName = "alice",
                                .proxyPassword = "s3cret"};
    soap::SoapClient second;
    EXPECT_EQ(SetupSoapClient(second, settings, store), "OK");
    settings.proxyPassword = "wrong";
    soap::SoapClient third;
    const std::string refused = SetupSoapClient(third, settings, store);
    EXPECT_NE(refused, "OK");
    EXPECT_EQ(refused.find("wrong"), std::string::npos);  // the password never shows
}

}  // namespace
}  // namespace ovk
