// SPDX-License-Identifier: MIT
// The whole download against the reference service over real SOAP: the files a host finds
// afterwards, compared with what the catalogue holds.

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <set>

#include "catalog_results.hpp"
#include "download_harness.hpp"
#include "platform/errors.hpp"
#include "platform/write_hooks.hpp"
#include "ref_service.hpp"

namespace ovk {
namespace {

using test::catalogProject;
using test::DownloadHarness;
using test::expectedRecordFile;
using test::readAll;
using test::RefService;

struct Download : ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(Download, WritesWhatTheCatalogueHolds) {
    for (const std::string project : {"DEMO", "TRAPS"}) {
        SCOPED_TRACE(project);
        RefService service(GetParam());
        DownloadHarness h(true);
        const std::string password = project == "DEMO" ? "demo" : "traps";
        ASSERT_NO_FATAL_FAILURE(h.init(service.url(), project, password));
        const nlohmann::json catalog = catalogProject(project);

        h.impl->DownloadStructure();
        std::vector<std::string> symbols, gers;
        // A document named as a path is refused and named; the rest arrive.
        std::vector<std::string> events;
        for (const auto& article : catalog["articles"]) {
            h.impl->DownloadItem(article["id"]);
            for (const auto& s : article.value("symbols", nlohmann::json::array()))
                symbols.push_back(s);
            for (const auto& g : article.value("gers", nlohmann::json::array())) gers.push_back(g);
            for (const auto& document : article.value("documents", nlohmann::json::array())) {
                if (document["name"].get<std::string>().find('/') != std::string::npos)
                    events.push_back("Exception 5");
            }
        }
        h.impl->Finish();
        events.push_back("DownloadComplete");
        EXPECT_EQ(h.host.events.log, events);

        EXPECT_EQ(readAll(h.work / "sym.txt"), expectedRecordFile(symbols, true));
        if (gers.empty()) {
            EXPECT_FALSE(std::filesystem::exists(h.work / "ger.txt"));
        } else {
            EXPECT_EQ(readAll(h.work / "ger.txt"), expectedRecordFile(gers, false));
        }
        // Every document the catalogue names as a plain file name, byte for byte; nothing
        // else beside the download document, and nothing outside its folder.
        std::set<std::string> expectedFiles = {"download.xml", "sym.txt", "Banner1.jpg"};
        if (!gers.empty()) expectedFiles.insert("ger.txt");
        for (const auto& article : catalog["articles"]) {
            for (const auto& document : article.value("documents", nlohmann::json::array())) {
                const std::string name = document["name"];
                if (name.find('/') != std::string::npos) continue;
                expectedFiles.insert(name);
                EXPECT_EQ(readAll(h.work / name),
                          readAll(std::string(OVK_EXAMPLES_DIR) + "/catalog/" +
                                  std::string(document["file"])))
                    << name;
            }
        }
        std::set<std::string> written;
        for (const auto& entry : std::filesystem::directory_iterator(h.work.path()))
            written.insert(entry.path().filename().string());
        EXPECT_EQ(written, expectedFiles);
        EXPECT_FALSE(std::filesystem::exists(h.work.path().parent_path() / "escape.txt"));

        // The finished document holds every article once, validates, and starts a new run.
        const xml::Document finished = xml::Document::loadFile(h.downloadFile());
        EXPECT_EQ(finished.elementsByName("Articleinfo").size(), catalog["articles"].size());
        EXPECT_EQ(finished.firstElementByName("Structure").childElements().size(),
                  catalog["fields"].size());
        DownloadHarness again(true);
        int32_t result = 0;
        int32_t init = -99;
        again.impl->InitializeEnvironment(h.downloadFile().string(), result, init);
        EXPECT_EQ(init, 0) << ::testing::PrintToString(again.host.events.log);

        // The next download on it: Init left the documents of the items in the file, and
        // the same articles again give the same file, none of it standing in.
        const std::string first = readAll(h.downloadFile());
        const auto& options = GetParam();
        const bool sections =
            std::find(options.begin(), options.end(), "--base64-text") == options.end();
        // Its documents are large enough to stay in the file, when they come in sections.
        if (project == "DEMO" && sections) {
            EXPECT_NE(again.impl->MyXMLDocument->toString().find("ovk-cdata-"), std::string::npos);
        }
        EXPECT_THROW(again.impl->DownloadItem("4711"), Error);
        again.impl->DownloadStructure();
        // Fetched ahead this time, each reply read whole before its item is copied: the same
        // file as the items read as they arrived.
        std::vector<std::string> ids;
        for (const auto& article : catalog["articles"]) ids.push_back(article["id"]);
        again.impl->MySoapobject->setMaxRequestsInFlight(4);
        again.impl->ItemsToCome(ids);
        for (const auto& article : catalog["articles"]) again.impl->DownloadItem(article["id"]);
        again.impl->Finish();
        EXPECT_EQ(again.host.events.log, events);
        EXPECT_EQ(readAll(h.downloadFile()), first);
    }
}

// Payloads as SOAP stacks send them: in CDATA or as element text, in one line or wrapped,
// indented around their sections, compressed.
INSTANTIATE_TEST_SUITE_P(
    Replies, Download,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"--indent"},
                      std::vector<std::string>{"--base64-text", "--base64-lines", "76"},
                      std::vector<std::string>{"--base64-lines", "60", "--spaced-cdata"},
                      std::vector<std::string>{"--gzip", "--indent", "--base64-text"}));

TEST(DownloadFaults, AServiceThatFailsOrDiesAfterSomeItemsLeavesThoseItemsWhole) {
    // An error reply, a reply cut off in the middle, and a service that is gone.
    for (const std::string fault : {"http500", "truncated", "stopped"}) {
        SCOPED_TRACE(fault);
        std::vector<std::string> args;
        if (fault != "stopped") args = {"--fault", "GetItemData=" + fault + "@4713"};
        RefService service(args);
        DownloadHarness h(true);
        h.host.failFast();
        ASSERT_NO_FATAL_FAILURE(h.init(service.url()));
        h.impl->DownloadStructure();
        h.impl->DownloadItem("4711");
        h.impl->DownloadItem("4712");
        if (fault == "stopped") service.stop();
        EXPECT_THROW(h.impl->DownloadItem("4713"), Error);

        const xml::Document saved = xml::Document::loadFile(h.downloadFile());
        std::vector<std::string> numbers;
        for (const xml::Node& item : saved.elementsByName("Articleinfo"))
            numbers.push_back(item.childElements().at(0).text());
        EXPECT_EQ(numbers, (std::vector<std::string>{"4711", "4712"}));
        EXPECT_EQ(saved.toString(), h.impl->MyXMLDocument->toString());
        EXPECT_TRUE(saved.firstElementByName("Structure").hasChildNodes());
        EXPECT_EQ(readAll(h.work / "4711_datasheet.pdf"),
                  readAll(std::string(OVK_EXAMPLES_DIR) + "/catalog/docs/motor_ac_datasheet.pdf"));
        EXPECT_TRUE(h.host.events.log.empty()) << ::testing::PrintToString(h.host.events.log);
        // The user gives up: the download lets go of the document and leaves nothing beside it.
        h.impl->Cancel();
        std::size_t files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(h.work.path()))
            files += entry.path().filename().string().starts_with(".");
        EXPECT_EQ(files, 0u) << "a temporary file was left behind";
    }
}

// A reply cut anywhere (in the envelope, between elements, inside a payload's Base64) leaves
// nothing of its item: no node, no byte of the file, no payload file or temporary file. The
// next attempt saves the item as an undisturbed download does; when every attempt is cut, the
// item is missing and the next one is saved as usual.
TEST(DownloadFaults, AnItemCutAnywhereIsSavedWholeByTheNextAttemptOrNotAtAll) {
    std::string undisturbed;
    for (const int cut : {0, 120, 500, 900, 1300, 1700, 2100}) {
        for (const bool persists : {false, true}) {
            if (cut == 0 && persists) continue;
            SCOPED_TRACE(std::to_string(cut) + (persists ? " on every attempt" : " once"));
            std::vector<std::string> args;
            if (cut != 0) {
                args = {"--fault", "GetItemData=truncated:" + std::to_string(cut) + "@4711" +
                                       (persists ? "" : "x1")};
            }
            RefService service(args);
            DownloadHarness h(true);
            h.host.settings->write(kSettingsApplication, "Settings", kRetryAttemptsSetting,
                                   persists ? "0" : "1");
            ASSERT_NO_FATAL_FAILURE(h.init(service.url()));
            h.impl->DownloadStructure();
            if (persists) {
                EXPECT_THROW(h.impl->DownloadItem("4711"), Error);
            } else {
                h.impl->DownloadItem("4711");
            }
            h.impl->DownloadItem("4712");
            const std::string saved = readAll(h.downloadFile());
            EXPECT_TRUE(saved == h.impl->MyXMLDocument->toString());
            // Each service has a port of its own; the articles start after the address.
            const std::string items = saved.substr(saved.find("<Project>"));
            if (cut == 0) undisturbed = items;
            if (!persists) {
                EXPECT_TRUE(items == undisturbed) << items;
                EXPECT_EQ(readAll(h.work / "4711_datasheet.pdf"),
                          readAll(std::string(OVK_EXAMPLES_DIR) +
                                  "/catalog/docs/motor_ac_datasheet.pdf"));
            } else {
                const xml::Document document = xml::Document::loadFile(h.downloadFile());
                ASSERT_EQ(document.elementsByName("Articleinfo").size(), 1u);
                EXPECT_FALSE(std::filesystem::exists(h.work / "4711_datasheet.pdf"));
            }
            for (const auto& entry : std::filesystem::directory_iterator(h.work.path())) {
                const std::string name = entry.path().filename().string();
                EXPECT_FALSE(name.starts_with(".download.xml.ovk-tmp")) << name;
            }
        }
    }
}

// A file renamed into place before its bytes are on disk can stand at its name empty or torn
// after a power cut. Every file the download puts in place this way (its journal, the saved
// document) is flushed under its temporary name first, and its folder after the rename.
TEST(DownloadFaults, EveryFileIsFlushedBeforeItIsRenamedIntoPlace) {
    struct Recorder final : files::WriteHooks {
        std::mutex mutex;
        std::vector<std::pair<std::string, std::filesystem::path>> steps;
        void flushed(const std::filesystem::path& file) override {
            const std::lock_guard lock(mutex);
            steps.emplace_back("flush", file);
        }
        void renamed(const std::filesystem::path& from, const std::filesystem::path& to) override {
            const std::lock_guard lock(mutex);
            steps.emplace_back("rename", from);
            steps.emplace_back("to", to);
        }
    } recorder;
    files::setWriteHooks(&recorder);
    struct Uninstall {
        ~Uninstall() { files::setWriteHooks(nullptr); }
    } uninstall;
    RefService service;
    DownloadHarness h(true);
    ASSERT_NO_FATAL_FAILURE(h.init(service.url()));
    h.impl->DownloadStructure();
    const nlohmann::json catalog = catalogProject("DEMO");
    for (const auto& article : catalog["articles"]) h.impl->DownloadItem(article["id"]);
    h.impl->Finish();
    files::setWriteHooks(nullptr);

    std::set<std::string> placed;
    const auto& steps = recorder.steps;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (steps[i].first != "rename") continue;
        const std::filesystem::path& from = steps[i].second;
        const std::filesystem::path& to = steps.at(i + 1).second;
        placed.insert(to.filename().string());
        SCOPED_TRACE(from.string() + " renamed to " + to.string());
        const auto flushedAs = [&](const std::filesystem::path& file) {
            return [&](const auto& step) { return step.first == "flush" && step.second == file; };
        };
        EXPECT_TRUE(
            std::any_of(steps.begin(), steps.begin() + static_cast<long>(i), flushedAs(from)));
        EXPECT_TRUE(std::any_of(steps.begin() + static_cast<long>(i), steps.end(),
                                flushedAs(to.parent_path())));
    }
    EXPECT_EQ(placed, (std::set<std::string>{"download.xml", ".download.xml.ovk-journal"}));
}

}  // namespace
}  // namespace ovk
