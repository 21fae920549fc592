// SPDX-License-Identifier: MIT
// ovk-host driving the wizard from its command line against the reference service, whose
// replies come plain or indented: what a script author sees.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "component_folder.hpp"
#include "host_run.hpp"
#include "ref_service.hpp"
#include "xml/document.hpp"

namespace ovk {
namespace {

using nlohmann::json;
using test::HostRun;
using test::RefService;
using test::runHost;
using test::TempDir;

class OvkHostWizard : public test::PlainAndIndentedServiceTest {
  protected:
    TempDir work;
    HostRun run(std::vector<std::string> script) {
        const std::string url = service().url();
        const auto doc =
            work.write("download.xml", test::downloadDocument("TARVO", test::demoSettings(url)));
        std::vector<std::string> args{"run", "--settings-dir", (work / "settings").string()};
        args.insert(args.end(), script.begin(), script.end());
        args.push_back(doc.string());
        return runHost(args);
    }
    // The events and boxes, one short text each: "StepChanged 1", "Debugger KEY", "msgbox TITLE".
    static std::vector<std::string> events(const HostRun& run) {
        std::vector<std::string> out;
        for (const json& line : run.lines) {
            if (line.contains("msgbox")) {
                out.push_back("msgbox " + line["msgbox"]["title"].get<std::string>() + " " +
                              line["msgbox"]["answer"].get<std::string>());
            } else if (line.value("event", "") == "StepChanged") {
                out.push_back("StepChanged " + std::to_string(line["step"].get<int>()));
            } else if (line.value("event", "") == "Exception") {
                out.push_back(line["source"].get<std::string>() + " " +
                              line["message"].get<std::string>());
            } else if (line.value("event", "") == "DownloadProgress") {
                out.push_back("Progress " + std::to_string(line["done"].get<int>()));
            } else if (line.contains("event")) {
                out.push_back(line["event"].get<std::string>());
            }
        }
        return out;
    }
};

using Strings = std::vector<std::string>;
const std::string kRoot = "0{}Catalog";

TEST_P(OvkHostWizard, ChoosesFieldsWalksLeavesMarksAndFinishes) {
    const HostRun r =
        run({"--fields", "Manufacturer;Product group", "--leaf", "Velmora/Motors", "--mark", "all",
             "--unmark", "4713", "--leaf", "Catalog/Dunmore/Drives", "--mark", "4721", "--finish"});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(events(r), (Strings{"StepChanged 0", "StepChanged 1", "StepChanged 0",
                                  "StepChanged 1", "Debugger " + kRoot + "||3{}Velmora||7{}Motors",
                                  "Debugger " + kRoot + "||3{}Dunmore||7{}Drives", "StepChanged 2",
                                  "Progress 1", "Progress 2", "Progress 3", "DownloadComplete"}));
    EXPECT_NE(test::readAll(work / "settings" / "VelmoraDotNet.ini").find("1033=\"3;7\""),
              std::string::npos);
}

// The script is a host that keeps its own marks: choosing other fields asks nothing and drops
// none of them, and cancelling downloads nothing.
TEST_P(OvkHostWizard, ChoosingFieldsKeepsTheMarksAndCancelDownloadsNothing) {
    const HostRun r =
        run({"--leaf", "Motors/Velmora/DC", "--mark", "4713", "--fields", "Product group", "--leaf",
             "Motors", "--unmark", "4713", "--mark", "4713", "--cancel"});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(events(r),
              (Strings{"StepChanged 0", "StepChanged 1",
                       "Debugger " + kRoot + "||7{}Motors||3{}Velmora||12{}DC", "StepChanged 0",
                       "StepChanged 1", "Debugger " + kRoot + "||7{}Motors", "StepChanged 2",
                       "DownloadCancel"}));
    EXPECT_EQ(xml::Document::loadFile(work / "download.xml").elementsByName("Articleinfo").size(),
              0u);
}

TEST_P(OvkHostWizard, AScriptNamingWhatIsNotThereIsAUsageError) {
    struct Case {
        Strings script;
        const char* saying;
    };
    const Case cases[] = {
        {{"--leaf", "Motors/Nobody/AC"}, "there is: Motors/Brandt & Söhne, Motors/Velmora"},
        {{"--leaf", "Motors/Velmora"}, "not a leaf; below it there is: Motors/Velmora/AC"},
        {{"--leaf", "Motors/Velmora/AC", "--mark", "4711,999"}, "no article \"999\""},
        {{"--fields", "Colour"}, "no field \"Colour\""},
    };
    for (const Case& c : cases) {
        const HostRun r = run(c.script);
        EXPECT_EQ(r.status, 2) << c.saying;
        EXPECT_NE(r.errors.find(c.saying), std::string::npos) << r.errors;
    }
}

INSTANTIATE_TEST_SUITE_P(Replies, OvkHostWizard, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Indented" : "Plain"; });

TEST(OvkHostOptions, HelpVersionAndLanguageChecks) {
    struct Case {
        Strings args;
        int status;
        const char* out;  // in the first printed line, or in standard error
    };
    const Case cases[] = {
        {{"--version"}, 0, OVK_VERSION_TEXT},
        {{"run", "--help"}, 0, "--leaf"},
        {{"check", "--help"}, 0, "ovk-host check"},
        {{"run", "--gui-lang", "32768", "x.xml"}, 2, "from 0 to 32767"},
        {{"run", "--gui-lang", "-1", "x.xml"}, 2, "from 0 to 32767"},
        {{"run", "--finish", "--leaf", "A", "x.xml"}, 2, "must come last"},
        {{"run", "--gui-lang", "1049", "--init-only", "--batch", "--component-dir", OVK_DATA_DIR,
          "missing.xml"},
         1,
         "no language 1049; the component will use 1033"},
    };
    for (const Case& c : cases) {
        const HostRun r = runHost(c.args, false);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << r.errors;
        std::string all = r.errors;
        for (const json& line : r.lines) all += line.is_string() ? line.get<std::string>() : "";
        EXPECT_NE(all.find(c.out), std::string::npos) << all;
    }
}

}  // namespace
}  // namespace ovk
