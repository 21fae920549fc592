// SPDX-License-Identifier: MIT
// ovk-host as a host developer uses it: one JSON line per event, then the outcome.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "component_folder.hpp"
#include "host_run.hpp"
#include "ref_service.hpp"
#include "scoped_environment.hpp"
#include "tinyproxy.hpp"

namespace {

using nlohmann::json;
using ovk::test::downloadDocument;
using ovk::test::HostRun;
using ovk::test::RefService;
using ovk::test::runHost;
using ovk::test::TempDir;

struct OvkHost : ::testing::Test {
    TempDir work;
    std::string settingsDir = (work / "settings").string();
    std::string document(const std::string& url) {
        return work
            .write("download.xml",
                   downloadDocument("TARVO",
                                    "<URL>" + url +
                                        "</URL><ProjectID>DEMO</ProjectID>"
                                        "<Language>English</Language><Password>demo</Password>"))
            .string();
    }
};

std::vector<std::string> findings(const HostRun& run) {
    std::vector<std::string> names;
    for (const json& line : run.lines) {
        if (line.contains("finding")) names.push_back(line["finding"]);
    }
    return names;
}

TEST_F(OvkHost, ChecksAValidDocumentOfflineFindingByFinding) {
    const HostRun run = runHost({"check", std::string(OVK_EXAMPLES_DIR) + "/tarvo_download.xml"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(findings(run),
              (std::vector<std::string>{"installation", "well-formed", "project type", "schema",
                                        "valid", "configuration", "project language"}));
    ASSERT_FALSE(run.lines.empty());
    const json& summary = run.lines.back();
    EXPECT_EQ(summary["check"], 0);
    EXPECT_EQ(summary["projectType"], "TARVO");
    EXPECT_EQ(summary["projectId"], "DEMO");
}

TEST_F(OvkHost, ReportsAnInvalidDocumentWithTheValidationText) {
    const auto path = work.write("bad.xml", downloadDocument("TARVO", "<Bogus/>"));
    const HostRun run = runHost({"check", path.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(findings(run),
              (std::vector<std::string>{"installation", "well-formed", "project type", "schema"}));
    ASSERT_EQ(run.lines.size(), 6u);
    const json& failure = run.lines[4];
    EXPECT_EQ(failure["event"], "Exception");
    EXPECT_EQ(failure["number"], 17);
    EXPECT_EQ(failure["source"], "Init");
    EXPECT_EQ(failure["message"].get<std::string>().rfind(
                  "Error validating DownloadFile with Schema\r\n", 0),
              0u);
    EXPECT_EQ(run.lines[5]["check"], -7);
}

TEST_F(OvkHost, RunsTheStartUpAgainstAService) {
    RefService service;
    const HostRun run =
        runHost({"run", "--init-only", "--settings-dir", settingsDir, document(service.url())});
    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(run.lines.size(), 1u);
    EXPECT_EQ(run.lines[0], json({{"init", 0}}));
}

TEST_F(OvkHost, AnswersMessageBoxesFromItsOptionsAndPrintsThem) {
    RefService service({"--client-version", "1.0.19"});
    const HostRun run = runHost({"run", "--answer", "cancel", "--settings-dir", settingsDir,
                                 "--gui-lang", "1031", document(service.url())});
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.lines.size(), 3u);
    EXPECT_EQ(run.lines[0]["msgbox"]["title"], "New Version");
    EXPECT_EQ(run.lines[0]["msgbox"]["answer"], "cancel");
    EXPECT_EQ(run.lines[0]["msgbox"]["text"],
              "Eine neuere Client-Version ist verf\xC3\xBCgbar. Jetzt installieren?");
    EXPECT_EQ(run.lines[1], json({{"event", "DownloadCancel"}}));
    EXPECT_EQ(run.lines[2], json({{"init", 1}}));
}

TEST_F(OvkHost, AMissingDocumentIsAnExceptionAndMinusOne) {
    const std::string missing = (work / "absent.xml").string();
    const HostRun run = runHost({"run", "--settings-dir", settingsDir, missing});
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_EQ(run.lines[0], json({{"event", "Exception"},
                                  {"number", 53},
                                  {"message", "File " + missing + " not found."},
                                  {"source", "Init"}}));
    EXPECT_EQ(run.lines[1], json({{"init", -1}}));
}

// Each refused start-up names what is wrong, once, and the settings it writes stay readable.
TEST_F(OvkHost, EachRefusedStartUpSaysWhatIsWrong) {
    RefService service;
    const std::string connection =
        "<ProjectID>DEMO</ProjectID><Language>English</Language>"
        "<Password>demo</Password>";
    const std::string url = "<URL>" + service.url() + "</URL>";
    const std::string blockedSettings = (work / "blocked").string();
    work.write("blocked", "a file where the settings folder belongs");
    const struct {
        std::string elements;
        std::string settings;  // the settings folder, when not the usual one
        int init;
        int number;
        std::string message;  // its beginning
    } cases[] = {
        {url + connection + "<Proxy_IP>127.0.0.1</Proxy_IP><Proxy_PORT>70000</Proxy_PORT>", "", -9,
         17, "Error by set ProxyIp/PortProxyServer must be host:port"},
        {url + connection + "<Proxy_IP>127.0.0.1</Proxy_IP><Proxy_PORT>-3</Proxy_PORT>", "", -9, 17,
         "Error by set ProxyIp/Port"},
        {url + connection + "<Proxy_IP>a b</Proxy_IP>", "", -9, 17, "Error by set ProxyIp/Port"},
        // Eight characters are long enough, nine bytes are not.
        {"<URL>\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC</URL>" + connection, "", -8, 57,
         "Failed to gather Config-InformationError No Service URL"},
        {url + connection, blockedSettings, -9, 17,
         "Error StdCannot write the settings file " + blockedSettings +
             "/VelmoraDotNet.ini: its lock "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.elements + " " + c.settings);
        const auto doc = work.write("download.xml", downloadDocument("TARVO", c.elements));
        const HostRun run = runHost({"run", "--init-only", "--settings-dir",
                                     c.settings.empty() ? settingsDir : c.settings, doc.string()});
        EXPECT_EQ(run.status, 1);
        ASSERT_EQ(run.lines.size(), 2u) << run.errors;
        EXPECT_EQ(run.lines[0]["number"], c.number);
        const std::string message = run.lines[0]["message"];
        EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
        EXPECT_EQ(message.find("Cannot write", 1), message.rfind("Cannot write")) << message;
        EXPECT_EQ(run.lines[1]["init"], c.init);
    }
}

// A time-out however large goes back into the settings as the digits it was read as.
TEST_F(OvkHost, WritesALargeTimeOutBackInDigits) {
    RefService service;
    work.write("settings/VelmoraDotNet.ini", "[Settings]\nSOAPTimeout=1e16\n");
    const HostRun run =
        runHost({"run", "--init-only", "--settings-dir", settingsDir, document(service.url())});
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(ovk::test::readAll(work / "settings" / "VelmoraDotNet.ini")
                  .find("SOAPTimeout=10000000000000000\n"),
              std::string::npos);
}

TEST_F(OvkHost, RefusesBadOptionsWithUsage) {
    EXPECT_EQ(runHost({"run", "--answer", "maybe", "x.xml"}).status, 2);
    // Known only when the box comes: the New Version box has OK and Cancel.
    RefService service({"--client-version", "1.0.19"});
    const HostRun yes =
        runHost({"run", "--answer", "yes", "--settings-dir", settingsDir, document(service.url())});
    EXPECT_EQ(yes.status, 2);
    EXPECT_NE(yes.errors.find("--answer yes is no button of the box \"New Version\"; its buttons "
                              "are ok, cancel"),
              std::string::npos)
        << yes.errors;
    EXPECT_EQ(runHost({"frobnicate", "x.xml"}).status, 2);
    EXPECT_EQ(runHost({"run"}).status, 2);
}

// The proxy password can stay out of the process list: a file or the environment give it as
// well as the option does, and the option wins over the variable.
TEST_F(OvkHost, TakesTheProxyPasswordFromAFileOrTheEnvironment) {
    if (::access(ovk::test::kTinyproxy, X_OK) != 0) GTEST_SKIP() << "tinyproxy is not installed";
    RefService service;
    ovk::test::Tinyproxy proxy(work, "alice s3cret");
    ASSERT_TRUE(proxy.running());
    const std::string port = proxy.hostPort().substr(proxy.hostPort().rfind(':') + 1);
    const std::string doc = document(service.url());
    const std::string good = work.write("good", "s3cret\n").string();
    const std::string bad = work.write("bad", "wrong\r\n").string();
    struct Case {
        std::vector<std::string> options;
        std::optional<std::string> variable;
        int status;
    };
    const std::vector<Case> cases = {
        {{"--proxy-password-file", good}, std::nullopt, 0},
        {{"--proxy-password-file", bad}, "s3cret", 1},
        {{}, "s3cret", 0},
        {{"--proxy-password", "s3cret"}, "wrong", 0},
        {{}, std::nullopt, 1},
        {{"--proxy-password-file", (work / "absent").string()}, "s3cret", 2},
        {{"--proxy-password-file", good, "--proxy-password", "s3cret"}, std::nullopt, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options) + " " + c.variable.value_or("-"));
        ovk::test::ScopedEnvironment variable("OVK_PROXY_PASSWORD", c.variable);
        std::vector<std::string> args = {
            "run",          "--init-only", "--settings-dir", settingsDir, "--proxy-ip", "127.0.0.1",
            "--proxy-port", port,          "--proxy-user",   "alice"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(doc);
        const HostRun run = runHost(args);
        EXPECT_EQ(run.status, c.status) << run.errors;
        if (c.status == 2) {
            EXPECT_NE(run.errors.find("proxy-password"), std::string::npos);
        }
    }
}

}  // namespace
