// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "document/config_infos.hpp"
#include "platform/errors.hpp"

namespace ovk {
namespace {

ConfigInfo read(const std::string& elements) {
    const auto doc = xml::Document::loadMemory("<Download><System>TARVO</System>" + elements +
                                               "<Project/></Download>");
    return GetConfigInfos(&doc);
}

TEST(ConfigInfos, ReadsEveryTextInItsPlace) {
    const ConfigInfo info = read(
        "<URL>http://host/svc</URL><ProjectID>P1</ProjectID><Language>German</"
        "Language><Password>pw</Password>"
        "<Proxy_IP>proxy</Proxy_IP><Proxy_PORT>8080</Proxy_PORT><Proxy_ID>user</"
        "Proxy_ID><Proxy_PW>secret</Proxy_PW>");
    EXPECT_EQ(info, (ConfigInfo{"http://host/svc", "P1", "German", "pw", "proxy", "8080", "user",
                                "secret"}));
}

TEST(ConfigInfos, FailsInTheOrderOfTheElements) {
    EXPECT_EQ(GetConfigInfos(nullptr)[0], "Error Document not initialized");
    EXPECT_EQ(read("<URL>1234567</URL>")[0],
              "Error No Service URL");  // before the missing ProjectID
    EXPECT_EQ(read("<URL>12345678</URL><ProjectID/><Language/>")[0], "12345678");
    EXPECT_EQ(read("")[0], "Error No Projekt ID");
    EXPECT_EQ(read("<ProjectID>P</ProjectID>")[0], "Error No Language");
}

TEST(ConfigInfos, AbsentOptionalElementsReadEmpty) {
    const ConfigInfo info = read("<ProjectID>P</ProjectID><Language>English</Language><Password/>");
    EXPECT_EQ(info[config::Url], "");
    EXPECT_EQ(info[config::Password], "");
    EXPECT_EQ(info[config::ProxyPort], "");
}

TEST(ConfigMerge, TheDocumentWinsWhereItHasAUsableValue) {
    ConnectionSettings settings{.serviceUrl = "http://host-set",
                                .proxyIp = "host-proxy",
                                .proxyPort = 3128,
                                .proxyUserName = "host-user",
                                .proxyPassword = "host-pw"};
    MergeConfigInfo(ConfigInfo{"", "P", "English", "", "", "abc", "", ""}, settings);
    EXPECT_EQ(settings.serviceUrl, "");  // always replaced
    EXPECT_EQ(settings.proxyIp, "host-proxy");
    EXPECT_EQ(settings.proxyPort, 3128);
    EXPECT_EQ(settings.proxyUserName, "host-user");
    EXPECT_EQ(settings.proxyPassword, "host-pw");
    EXPECT_EQ(settings.projectId, "P");

    MergeConfigInfo(ConfigInfo{"http://doc-url", "P", "English", "pw", "doc-proxy", "8080",
                               "doc-user", "doc-pw"},
                    settings);
    EXPECT_EQ(settings.serviceUrl, "http://doc-url");
    EXPECT_EQ(settings.proxyIp, "doc-proxy");
    EXPECT_EQ(settings.proxyPort, 8080);
    EXPECT_EQ(settings.proxyUserName, "doc-user");
    EXPECT_EQ(settings.proxyPassword, "doc-pw");
    EXPECT_EQ(settings.projectPassword, "pw");
}

TEST(ConfigMerge, ProxyPortRoundsHalvesToEvenAndRefusesOverflow) {
    ConnectionSettings settings;
    for (const auto& [text, port] : std::vector<std::pair<std::string, int32_t>>{
             {"8080.5", 8080}, {"8081.5", 8082}, {" -2 ", -2}, {"1e3", 1000}, {"+7", 7}}) {
        MergeConfigInfo(ConfigInfo{"", "", "", "", "", text, "", ""}, settings);
        EXPECT_EQ(settings.proxyPort, port) << text;
    }
    settings.proxyPort = 1;
    for (const char* notANumber : {"", "0x10", "inf", "nan", "1,5", "8080abc"}) {
        MergeConfigInfo(ConfigInfo{"", "", "", "", "", notANumber, "", ""}, settings);
        EXPECT_EQ(settings.proxyPort, 1) << notANumber;
    }
    try {
        MergeConfigInfo(ConfigInfo{"http://u-1234", "P", "", "", "", "2147483648", "", ""},
                        settings);
        FAIL() << "a port beyond 32 bits must fail the merge";
    } catch (const Error& e) {
        EXPECT_EQ(e.number, err::Overflow);
    }
    EXPECT_EQ(settings.serviceUrl, "http://u-1234");  // what came before the port stays merged
    EXPECT_EQ(settings.proxyPort, 1);
}

}  // namespace
}  // namespace ovk
