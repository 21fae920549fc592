// SPDX-License-Identifier: MIT
// A long download stopped and continued through ovk-host, as a user does it: Ctrl+C or SIGTERM
// during the download, or a kill at any byte, then `run --continue`. Whatever stopped it, the
// files in the end are those of one undisturbed download of the same articles.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <map>
#include <random>
#include <thread>

#include "component_folder.hpp"
#include "host_run.hpp"
#include "ref_service.hpp"
#include "scoped_environment.hpp"

namespace ovk {
namespace {

using test::readAll;
using test::RefService;
using test::runHost;
using test::TempDir;

const std::vector<std::string> kEveryArticle = {
    "--fields", "Product group", "--leaf", "Motors", "--mark",  "all",    "--leaf",
    "Drives",   "--mark",        "all",    "--leaf", "Sensors", "--mark", "all",
    "--leaf",   "Switchgear",    "--mark", "all",    "--finish"};

// Every file of a download folder by name, the settings aside.
std::map<std::string, std::string> filesIn(const std::filesystem::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_regular_file())
            files[entry.path().filename().string()] = readAll(entry.path());
    }
    return files;
}

struct Download {
    TempDir work;
    TempDir logs;
    std::filesystem::path doc;
    explicit Download(const RefService& service)
        : doc(work.write("download.xml",
                         test::downloadDocument("TARVO", test::demoSettings(service.url())))) {}
    std::vector<std::string> args(std::vector<std::string> more) const {
        std::vector<std::string> all{"run", "--settings-dir", (work / "settings").string()};
        all.insert(all.end(), more.begin(), more.end());
        all.push_back(doc.string());
        return all;
    }
    std::string events() const { return readAll(logs / "events"); }
    std::size_t saved() const {
        const std::string text = readAll(doc);
        std::size_t count = 0;
        for (std::size_t at = text.find("<Articleinfo>"); at != std::string::npos;
             at = text.find("<Articleinfo>", at + 1))
            ++count;
        return count;
    }
};

// Starts ovk-host in batch mode, its events into `events` beside the document; the process id
// is ovk-host's own, to send it signals.
pid_t startHost(const Download& download, const std::vector<std::string>& args) {
    std::string command = "exec " + test::shellQuote(OVK_HOST_BIN);
    for (const auto& a : args) command += " " + test::shellQuote(a);
    command += " --batch --component-dir " + test::shellQuote(OVK_DATA_DIR) + " >" +
               test::shellQuote((download.logs / "events").string()) + " 2>/dev/null";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

int exitStatus(pid_t pid) {
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Ctrl+C or SIGTERM in the middle of the download stops it after the article being fetched,
// with the status a shell expects; --continue then finishes it, and the files are those of a
// download that was never stopped. With nothing left to continue, --continue says so.
TEST(OvkHostContinue, ASignalStopsTheDownloadAndContinuingEndsAsACleanRunWould) {
    RefService service({"--latency-ms", "400"});
    Download clean(service);
    ASSERT_EQ(runHost(clean.args(kEveryArticle)).status, 0);
    const std::size_t all = clean.saved();
    ASSERT_EQ(all, 10u);

    for (const auto& [signal, status] : {std::pair(SIGINT, 130), std::pair(SIGTERM, 143)}) {
        SCOPED_TRACE("signal " + std::to_string(signal));
        Download stopped(service);
        const pid_t host = startHost(stopped, stopped.args(kEveryArticle));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (stopped.saved() < 2 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::kill(host, signal);
        EXPECT_EQ(exitStatus(host), status);
        EXPECT_NE(stopped.events().find("DownloadCancel"), std::string::npos);
        EXPECT_EQ(stopped.events().find("DownloadComplete"), std::string::npos);
        const std::size_t kept = stopped.saved();
        EXPECT_GE(kept, 2u);
        EXPECT_LT(kept, all);

        const test::HostRun continued = runHost(stopped.args({"--continue"}));
        EXPECT_EQ(continued.status, 0) << continued.errors;
        EXPECT_NE(continued.errors.find("continuing after " + std::to_string(kept) + " of 10"),
                  std::string::npos)
            << continued.errors;
        ASSERT_FALSE(continued.lines.empty());
        EXPECT_EQ(continued.lines.back(), nlohmann::json({{"event", "DownloadComplete"}}));
        EXPECT_EQ(filesIn(stopped.work.path()), filesIn(clean.work.path()));

        const test::HostRun again = runHost(stopped.args({"--continue"}));
        EXPECT_EQ(again.status, 2);
        EXPECT_NE(again.errors.find("holds no unfinished download"), std::string::npos);
    }
}

// Killed at random bytes of its saves, record appends, plan and Finish, each download is
// continued (or, killed before it planned anything, run again) and ends with the files of the
// clean run, also when the document was started (Init) in between.
TEST(OvkHostContinue, AfterAKillAtAnyByteContinuingEndsAsACleanRunWould) {
    RefService service;
    Download clean(service);
    ASSERT_EQ(runHost(clean.args(kEveryArticle)).status, 0);
    const auto expected = filesIn(clean.work.path());
    // The protocol writes the document about twice (the saves, then Finish) and little else.
    const auto bytes = static_cast<long long>(2 * expected.at("download.xml").size());
    std::mt19937_64 random(28);
    int continued = 0;
    for (int kill = 0; kill < 20; ++kill) {
        const long long at = std::uniform_int_distribution<long long>(1, bytes)(random);
        SCOPED_TRACE("killed after " + std::to_string(at) + " bytes");
        Download killed(service);
        test::HostRun run;
        {
            const test::ScopedEnvironment crash("OVK_CRASH_AFTER_BYTES", std::to_string(at));
            run = runHost(killed.args(kEveryArticle), true, test::kHostWithTestHooks);
        }
        if (run.status == 128 + SIGKILL) {
            // Every other time a host starts the document once more in between.
            if (kill % 2 == 1) {
                ASSERT_EQ(runHost(killed.args({"--init-only"})).status, 0);
            }
            run = runHost(killed.args({"--continue"}));
            if (run.status == 2) {
                run = runHost(killed.args(kEveryArticle));
            } else {
                ++continued;
            }
        }
        ASSERT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(filesIn(killed.work.path()), expected);
    }
    EXPECT_GE(continued, 10);
}

// A failure that persisted ends the download with the articles before it; once the service is
// back (at another address, which the host writes into the document) the download continues,
// by --continue or by Yes to the question Show asks, and ends as a clean run, the URL line
// aside. A document the host changed meanwhile has nothing to continue, and its plan is gone.
TEST(OvkHostContinue, AFailedDownloadContinuesOnceTheServiceIsBackButNotOnAChangedDocument) {
    RefService healthy;
    Download clean(healthy);
    ASSERT_EQ(runHost(clean.args(kEveryArticle)).status, 0);
    const auto withoutUrl = [](std::map<std::string, std::string> files) {
        std::string& doc = files.at("download.xml");
        const auto from = doc.find("<URL>");
        doc.erase(from, doc.find("</URL>") - from);
        return files;
    };
    enum How { ByOption, AtShow, OnAChangedDocument };
    for (const How how : {ByOption, AtShow, OnAChangedDocument}) {
        SCOPED_TRACE(how);
        Download failed(healthy);
        {
            RefService failing({"--fault", "GetItemData=soapfault@4721"});
            std::string text = readAll(failed.doc);
            const auto at = text.find(healthy.url());
            text.replace(at, healthy.url().size(), failing.url());
            failed.work.write("download.xml", text);
            const test::HostRun run = runHost(failed.args(kEveryArticle));
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(failed.saved(), 5u);
        }
        std::string text = readAll(failed.doc);
        const auto from = text.find("<URL>") + 5;
        text.replace(from, text.find("</URL>") - from, healthy.url());
        if (how == OnAChangedDocument) text.insert(text.find("</Project>"), "<!-- the host's -->");
        failed.work.write("download.xml", text);
        const test::HostRun continued =
            runHost(failed.args(how == AtShow ? std::vector<std::string>{"--answer", "yes"}
                                              : std::vector<std::string>{"--continue"}));
        if (how == OnAChangedDocument) {
            EXPECT_EQ(continued.status, 2);
            EXPECT_FALSE(std::filesystem::exists(failed.work / ".download.xml.ovk-plan"));
            continue;
        }
        EXPECT_EQ(continued.status, 0) << continued.errors;
        if (how == AtShow) {
            ASSERT_GE(continued.lines.size(), 2u);
            EXPECT_EQ(continued.lines[1]["msgbox"]["text"],
                      "The last download stopped after 5 of 10 articles. Continue it?");
        }
        EXPECT_EQ(withoutUrl(filesIn(failed.work.path())), withoutUrl(filesIn(clean.work.path())));
    }
}

}  // namespace
}  // namespace ovk
