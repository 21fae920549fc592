// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include <tuple>

#include "component/soap_setup.hpp"
#include "component_folder.hpp"
#include "fake_service_client.hpp"
#include "platform/errors.hpp"
#include "soap/call_trace.hpp"
#include "temp_dir.hpp"

namespace ovk {
namespace {

using test::ComponentFolder;
using test::FakeServiceClient;

struct SoapSetup : ::testing::Test {
    ComponentFolder component;
    FakeServiceClient client;
    MemorySettingsStore store;
    ConnectionSettings settings;

    std::string storedTimeout() const {
        return store.readText(kSettingsApplication, "Settings", "SOAPTimeout");
    }
    double timeoutProperty() { return std::get<double>(client.properties.at("Timeout")); }
};

TEST_F(SoapSetup, TimeoutIsAtLeastTheMinimumAndIsWrittenBack) {
    EXPECT_EQ(SetupSoapClient(client, settings, store), "OK");
    EXPECT_EQ(storedTimeout(), "180000");
    EXPECT_EQ(timeoutProperty(), 180000);

    for (const auto& [stored, used, written] :
         std::vector<std::tuple<std::string, double, std::string>>{
             {"250000", 250000, "250000"},
             {"1000", 180000, "180000"},
             {"abc", 0, "0"},
             {"0", 180000, "180000"},
             {"", 0, "0"},
             {"200000.5", 200000.5, "200000.5"}}) {
        store.write(kSettingsApplication, "Settings", "SOAPTimeout", stored);
        EXPECT_EQ(SetupSoapClient(client, settings, store), "OK") << stored;
        EXPECT_EQ(timeoutProperty(), used) << stored;
        EXPECT_EQ(storedTimeout(), written) << stored;
    }
}

TEST_F(SoapSetup, RequestsInFlightAndRetriesComeFromTheSettingsWithTheDefaultForAnythingElse) {
    EXPECT_EQ(SetupSoapClient(client, settings, store), "OK");
    EXPECT_EQ(client.maxRequestsInFlight, 4);
    EXPECT_EQ(client.retryAttempts, 3);
    for (const auto& [stored, used, retries] :
         std::vector<std::tuple<std::string, int, int>>{{"1", 1, 1},
                                                        {"8", 8, 8},
                                                        {"0", 4, 0},
                                                        {"-2", 4, 3},
                                                        {"2.5", 4, 3},
                                                        {"many", 4, 3},
                                                        {"", 4, 3}}) {
        store.write(kSettingsApplication, "Settings", "MaxRequestsInFlight", stored);
        store.write(kSettingsApplication, "Settings", "RetryAttempts", stored);
        client.maxRequestsInFlight = 0;
        EXPECT_EQ(SetupSoapClient(client, settings, store), "OK") << stored;
        EXPECT_EQ(client.maxRequestsInFlight, used) << stored;
        EXPECT_EQ(client.retryAttempts, retries) << stored;
    }
}

TEST_F(SoapSetup, SetsOnlyTheConnectorPropertiesThatHaveValues) {
    EXPECT_EQ(SetupSoapClient(client, settings, store), "OK");
    EXPECT_EQ(client.propertyOrder, std::vector<std::string>{"Timeout"});
    EXPECT_EQ(client.wsdl, component.path() / "VelmoraSvr.wsdl");

    settings = {
        .serviceUrl = "http://svc", .proxyIp = "proxy", .proxyPort = 0, .proxyPassword = "pw"};
    client.propertyOrder.clear();
    EXPECT_EQ(SetupSoapClient(client, settings, store), "OK");
    EXPECT_EQ(client.propertyOrder,
              (std::vector<std::string>{"EndPointURL", "ProxyServer", "Timeout"}));
    EXPECT_EQ(std::get<std::string>(client.properties.at("ProxyServer")), "proxy:0");

    settings.proxyUserName = "user";
    settings.proxyPassword = "";
    client.propertyOrder.clear();
    EXPECT_EQ(SetupSoapClient(client, settings, store), "OK");
    EXPECT_EQ(client.propertyOrder,
              (std::vector<std::string>{"EndPointURL", "ProxyServer", "AuthUser", "AuthPassword",
                                        "Timeout"}));
    EXPECT_EQ(std::get<std::string>(client.properties.at("AuthPassword")), "");

    // The user's extra certificate authority, when the setting names one.
    for (const std::string file : {"", "/etc/company/root-ca.pem"}) {
        store.write(kSettingsApplication, "Settings", kCaFileSetting, file);
        client.propertyOrder.clear();
        EXPECT_EQ(SetupSoapClient(client, {}, store), "OK");
        EXPECT_EQ(client.propertyOrder.size(), file.empty() ? 1u : 2u);
        EXPECT_EQ(client.propertyOrder.back(), "Timeout");
    }
    EXPECT_EQ(std::get<std::string>(client.properties.at("CAFile")), "/etc/company/root-ca.pem");
}

// A trace file that cannot be written is named, never silently left out.
TEST_F(SoapSetup, TheTraceSettingOpensItsFileAndAnUnwritableOneFails) {
    test::TempDir dir;
    EXPECT_EQ(SetupSoapClient(client, settings, store), "OK");
    EXPECT_EQ(client.trace, nullptr);
    store.write(kSettingsApplication, "Settings", "TraceFile", (dir / "user.jsonl").string());
    EXPECT_EQ(SetupSoapClient(client, settings, store), "OK");
    EXPECT_TRUE(client.trace && std::filesystem::exists(dir / "user.jsonl"));
    const std::string unwritable = (dir / "missing" / "trace.jsonl").string();
    const std::string refused = SetupSoapClient(client, settings, store, {unwritable});
    EXPECT_EQ(refused.rfind("Error by set TraceFile", 0), 0u) << refused;
    EXPECT_NE(refused.find(unwritable), std::string::npos) << refused;
    EXPECT_NE(refused.find(": No such file or directory\r\n53\r\nCallTrace"), std::string::npos)
        << refused;
}

// Every form a secret takes on the wire is masked, wherever it stands in a line; texts that
// only resemble one stay.
TEST(CallTrace, MasksEveryFormOfEverySecret) {
    const struct {
        std::string text;
        std::string written;
    } rows[] = {
        {"<p>Pw&S3<cr>\"t'</p>", "<p>***</p>"},
        {"<p>Pw&amp;S3&lt;cr&gt;&quot;t&apos;</p>", "<p>***</p>"},
        {"<p>Pw&amp;S3&lt;cr>\"t'</p>", "<p>***</p>"},
        {"<p>Pw&#38;S3&#x3C;cr&#62;&#34;t&#39;</p>", "<p>***</p>"},
        {"?pw=Pw%26S3%3ccr%3E%22t%27&x=1", "?pw=***&x=1"},
        {"proxy: s3cret s3cr3t", "proxy: *** s3cr3t"},
        {"a+b%20c", "***"},
        {"Basic YWxpY2U6czNjcmV0", "Basic YWxpY2U6***"},
        {"UHcmUzM8Y3I+InQn", "***"},
        {"xUHcmUzM8Y3I+InQnx", "x***x"},
    };
    test::TempDir dir;
    const auto file = dir / "trace.jsonl";
    soap::CallTrace trace(file, true);
    for (const std::string secret : {"Pw&S3<cr>\"t'", "s3cret", "a b c"}) trace.addSecret(secret);
    for (const auto& row : rows) {
        soap::CallTrace::Entry entry;
        entry.operation = "GetItemData";
        entry.request = row.text;
        trace.write(entry);
    }
    std::istringstream lines(test::readAll(file));
    for (const auto& row : rows) {
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_EQ(nlohmann::json::parse(line)["request"], row.written) << row.text;
    }
}

TEST_F(SoapSetup, TheHelloWorldAnswerDecides) {
    client.helloAnswer = "hElLo WoRlD";
    EXPECT_EQ(SetupSoapClient(client, settings, store), "OK");
    client.helloAnswer = "Goodbye";
    EXPECT_EQ(SetupSoapClient(client, settings, store), "Error ");
}

TEST_F(SoapSetup, FailuresGiveTheirTextsAndLeaveTheTimeoutWritten) {
    client.wsdlFault = "cannot read";
    EXPECT_EQ(SetupSoapClient(client, settings, store),
              "Error by load wsdlcannot read\r\nWSDLReader\r\ninitialize");
    EXPECT_EQ(storedTimeout(), "180000");

    client.wsdlFault.clear();
    client.failures["HelloWorld"] = err::SoapConnection;
    EXPECT_EQ(SetupSoapClient(client, settings, store),
              "Error Kommunikationsfehler: kann Service nicht erreichenfault of HelloWorld");

    client.failures["HelloWorld"] = err::OutOfRange;
    const std::string text = SetupSoapClient(client, settings, store);
    EXPECT_EQ(text.rfind("Error Stdfailure of HelloWorld\r\n9\r\n", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.rfind("\r\n") + 2), "fault of HelloWorld");
}

}  // namespace
}  // namespace ovk
