// A whole download driven through ovk-host's wizard script, as a host developer runs it:
// the files written beside the download document, and a second run on the finished document.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <future>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "component_folder.hpp"
#include "host_run.hpp"
#include "platform/xml/document.hpp"
#include "ref_service.hpp"
#include "scoped_environment.hpp"
#include "service/catalog_results.hpp"
#include "test_certificates.hpp"
#include "tinyproxy.hpp"

namespace ovk {
namespace {

using test::readAll;
using test::RefService;
using test::runHost;
using test::TempDir;

// The download document's settings for the example catalogue's project at `url`.
std::string demoSettings(const std::string& url) {
    return "<URL>" + url +
           "</URL><ProjectID>DEMO</ProjectID><Language>English</Language><Password>demo</Password>";
}

struct OvkHostDownload : ::testing::TestWithParam<std::vector<std::string>> {
    TempDir work;
    std::filesystem::path document(const RefService& service) {
        return work.write("download.xml",
                          test::downloadDocument("TARVO", demoSettings(service.url())));
    }
    test::HostRun download(const std::filesystem::path& doc, std::vector<std::string> script) {
        std::vector<std::string> args{"run", "--settings-dir", (work / "settings").string(),
                                      "--fields", "Product group"};
        args.insert(args.end(), script.begin(), script.end());
        args.push_back(doc.string());
        return runHost(args);
    }
    static std::vector<std::string> events(const test::HostRun& run) {
        std::vector<std::string> out;
        for (const auto& line : run.lines) {
            const std::string event = line.value("event", "");
            if (event == "Exception" && line["source"] == "Debugger") continue;
            if (event == "Exception") {
                out.push_back("Exception " + line["source"].get<std::string>());
            } else if (!event.empty() && event != "StepChanged") {
                out.push_back(event);
            }
        }
        return out;
    }
};

TEST_P(OvkHostDownload, WritesEveryMarkedArticleAndItsFiles) {
    RefService service(GetParam());
    const auto doc = document(service);
    const test::HostRun r = download(
        doc, {"--leaf", "Motors", "--mark", "all", "--leaf", "Drives", "--mark", "all", "--leaf",
              "Sensors", "--mark", "all", "--leaf", "Switchgear", "--mark", "all", "--finish"});
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(events(r), std::vector<std::string>{"DownloadComplete"});
    // Standard error is no terminal here: no progress bar.
    EXPECT_EQ(r.errors, "");

    const nlohmann::json catalog = test::catalogProject("DEMO");
    std::vector<std::string> symbols, gers;
    std::set<std::string> expectedFiles = {"download.xml", "sym.txt", "ger.txt", "Banner1.jpg",
                                           "settings"};
    for (const auto& article : catalog["articles"]) {
        for (const auto& s : article.value("symbols", nlohmann::json::array()))
            symbols.push_back(s);
        for (const auto& g : article.value("gers", nlohmann::json::array())) gers.push_back(g);
        for (const auto& file : article.value("documents", nlohmann::json::array())) {
            expectedFiles.insert(file["name"].get<std::string>());
            EXPECT_EQ(readAll(work / file["name"].get<std::string>()),
                      readAll(std::string(OVK_EXAMPLES_DIR) + "/catalog/" +
                              file["file"].get<std::string>()));
        }
    }
    EXPECT_EQ(readAll(work / "sym.txt"), test::expectedRecordFile(symbols, true));
    EXPECT_EQ(readAll(work / "ger.txt"), test::expectedRecordFile(gers, false));
    std::set<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(work.path()))
        written.insert(entry.path().filename().string());
    EXPECT_EQ(written, expectedFiles);
    const xml::Document finished = xml::Document::loadFile(doc);
    EXPECT_EQ(finished.elementsByName("Articleinfo").size(), catalog["articles"].size());

    // The finished document starts the next run.
    const test::HostRun again =
        runHost({"run", "--init-only", "--settings-dir", (work / "settings").string(), doc});
    EXPECT_EQ(again.status, 0) << again.errors;
    ASSERT_FALSE(again.lines.empty());
    EXPECT_EQ(again.lines.back(), nlohmann::json({{"init", 0}}));
}

// A failing call ends the download with the items before it saved; an article the service
// answers with nothing is left out, named, and the rest still arrives. Either way the run fails.
TEST_P(OvkHostDownload, AServiceFailingInTheMiddleLeavesTheItemsBefore) {
    const struct {
        const char* fault;
        std::vector<std::string> events;
        std::vector<std::string> saved;
        std::string saying;  // in the Exception's message
    } cases[] = {
        {"GetItemData=http500@4713", {"Exception GetItemData"}, {"4711", "4712"}, "500"},
        {"GetItemData=empty@4713",
         {"Exception GetItemData", "DownloadComplete"},
         {"4711", "4712", "4714"},
         "article 4713"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        std::vector<std::string> args = GetParam();
        args.insert(args.end(), {"--fault", c.fault});
        RefService service(args);
        const auto doc = document(service);
        const test::HostRun r = download(doc, {"--leaf", "Motors", "--mark", "all", "--finish"});
        EXPECT_EQ(r.status, 1);
        // The failure reaches the host once, saying what went wrong.
        EXPECT_EQ(events(r), c.events);
        for (const auto& line : r.lines) {
            if (line.value("source", "") == "GetItemData") {
                EXPECT_NE(line["message"].get<std::string>().find(c.saying), std::string::npos)
                    << line.dump();
            }
        }
        const xml::Document saved = xml::Document::loadFile(doc);
        std::vector<std::string> numbers;
        for (const xml::Node& item : saved.elementsByName("Articleinfo"))
            numbers.push_back(item.childElements().at(0).text());
        EXPECT_EQ(numbers, c.saved);
    }
}

// A document of ordinary CAD size (64 MiB, far beyond the parser's default text limit) and
// record files the host keeps elsewhere through symbolic links: all arrive where the host
// looks, and the finished document starts the next run.
TEST(OvkHostDownloadAtSize, ALargeDocumentAndLinkedRecordFilesArriveAndTheDocumentReopens) {
    TempDir work;
    std::filesystem::copy(std::string(OVK_EXAMPLES_DIR) + "/catalog", work / "catalog",
                          std::filesystem::copy_options::recursive);
    std::string model(std::size_t{64} << 20, '\0');
    uint64_t state = 7;
    for (char& byte : model) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        byte = static_cast<char>(state >> 56);
    }
    work.write("catalog/docs/model.bin", model);
    nlohmann::json catalog = nlohmann::json::parse(readAll(work / "catalog" / "catalog.json"));
    for (auto& article : catalog["projects"][0]["articles"]) {
        if (article["id"] == "4711")
            article["documents"].push_back(
                {{"name", "4711_model.bin"}, {"file", "docs/model.bin"}});
    }
    work.write("catalog/catalog.json", catalog.dump());
    RefService service(work / "catalog", {});

    std::filesystem::create_directories(work / "shared");
    std::filesystem::create_directories(work / "run");
    work.write("shared/sym.txt", "");
    std::filesystem::create_symlink("../shared/sym.txt", work / "run" / "sym.txt");
    std::filesystem::create_symlink(work / "shared" / "ger.txt", work / "run" / "ger.txt");
    const auto doc = work.write("run/download.xml",
                                test::downloadDocument("TARVO", demoSettings(service.url())));
    const test::HostRun r =
        runHost({"run", "--settings-dir", (work / "settings").string(), "--fields", "Product group",
                 "--leaf", "Motors", "--mark", "all", "--finish", doc.string()});
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.lines.back(), nlohmann::json({{"event", "DownloadComplete"}}));
    EXPECT_TRUE(readAll(work / "run" / "4711_model.bin") == model);
    EXPECT_TRUE(std::filesystem::is_symlink(work / "run" / "sym.txt"));
    EXPECT_TRUE(std::filesystem::is_symlink(work / "run" / "ger.txt"));
    EXPECT_NE(readAll(work / "shared" / "sym.txt").find("SYMBOL VM-400 motor"), std::string::npos);
    EXPECT_NE(readAll(work / "shared" / "ger.txt").find("GER 4711 VM-400"), std::string::npos);

    const test::HostRun again =
        runHost({"run", "--init-only", "--settings-dir", (work / "settings").string(), doc});
    EXPECT_EQ(again.status, 0) << again.errors;
    ASSERT_FALSE(again.lines.empty());
    EXPECT_EQ(again.lines.back(), nlohmann::json({{"init", 0}}));
}

// The items to come are fetched while the current one is written, never more requests at once
// than the user's setting allows, and a failure still leaves exactly the items before it.
TEST(OvkHostRequestsInFlight, StayWithinTheSettingAndAFailureLeavesTheItemsBefore) {
    struct Case {
        int setting;
        const char* fault;
        std::vector<std::string> saved;
        const char* retries = "";  // the RetryAttempts line, if any
        bool completes = false;
    };
    const std::vector<std::string> motors = {"4711", "4712", "4713", "4714"};
    const std::vector<Case> cases = {
        {1, nullptr, motors, "", true},
        {2, nullptr, motors, "", true},
        {4, nullptr, motors, "", true},
        {4, "GetItemData=soapfault@4713", {"4711", "4712"}},
        {3, "GetItemData=malformed@4712", {"4711"}},
        // A moment of an overloaded server costs a wait, not the download.
        {4, "GetItemData=http503:0@4713x3", motors, "", true},
        {1, "GetItemData=http503:0@4712x2", motors, "RetryAttempts=2\n", true},
        {4, "GetItemData=http503:0@4713x1", {"4711", "4712"}, "RetryAttempts=0\n"},
        {4, "GetItemData=http503:0@4713x4", {"4711", "4712"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("MaxRequestsInFlight=" + std::to_string(c.setting) + " " + c.retries +
                     (c.fault ? c.fault : "no fault"));
        TempDir work;
        // Held back long enough that requests fetched ahead overlap at the service.
        std::vector<std::string> args{"--latency-ms", "40"};
        if (c.fault) args.insert(args.end(), {"--fault", c.fault});
        RefService service(args);
        const auto doc = work.write("download.xml",
                                    test::downloadDocument("TARVO", demoSettings(service.url())));
        work.write("settings/VelmoraDotNet.ini", "[Settings]\nMaxRequestsInFlight=" +
                                                     std::to_string(c.setting) + "\n" + c.retries);
        const test::HostRun r = runHost({"run", "--settings-dir", (work / "settings").string(),
                                         "--fields", "Product group", "--leaf", "Motors", "--mark",
                                         "all", "--finish", doc.string()});
        EXPECT_EQ(r.status, c.completes ? 0 : 1) << r.errors;
        const bool completed =
            !r.lines.empty() && r.lines.back() == nlohmann::json({{"event", "DownloadComplete"}});
        EXPECT_EQ(completed, c.completes);
        std::vector<std::string> numbers;
        const xml::Document saved = xml::Document::loadFile(doc);
        for (const xml::Node& item : saved.elementsByName("Articleinfo"))
            numbers.push_back(item.childElements().at(0).text());
        EXPECT_EQ(numbers, c.saved);

        const std::string output = service.stopAndReadOutput();
        const std::string marker = "most requests at once: ";
        const auto at = output.rfind(marker);
        ASSERT_NE(at, std::string::npos) << output;
        const int most = std::stoi(output.substr(at + marker.size()));
        EXPECT_LE(most, c.setting);
        // Four articles against a slow service: a bound above one is used, not only obeyed.
        if (c.setting > 1 && !c.fault) {
            EXPECT_GE(most, 2);
        }
    }
}

// Every article of the example catalogue, one tree leaf after the other.
const std::vector<std::string> kAllLeaves = {
    "--fields", "Product group", "--leaf", "Motors", "--mark",  "all",    "--leaf",
    "Drives",   "--mark",        "all",    "--leaf", "Sensors", "--mark", "all",
    "--leaf",   "Switchgear",    "--mark", "all",    "--finish"};

std::vector<std::string> savedArticles(const std::filesystem::path& doc) {
    std::vector<std::string> numbers;
    const xml::Document saved = xml::Document::loadFile(doc);
    for (const xml::Node& item : saved.elementsByName("Articleinfo"))
        numbers.push_back(item.childElements().at(0).text());
    return numbers;
}

// The symbol and GER files a download of `articles`, in this order, leaves.
std::pair<std::string, std::string> recordFilesOf(const std::vector<std::string>& articles) {
    const nlohmann::json project = test::catalogProject("DEMO");
    std::map<std::string, nlohmann::json> byId;
    for (const auto& article : project["articles"]) byId[article["id"]] = article;
    std::vector<std::string> symbols, gers;
    for (const std::string& id : articles) {
        for (const auto& s : byId[id].value("symbols", nlohmann::json::array()))
            symbols.push_back(s);
        for (const auto& g : byId[id].value("gers", nlohmann::json::array())) gers.push_back(g);
    }
    return {test::expectedRecordFile(symbols, true), test::expectedRecordFile(gers, false)};
}

// The program killed at one byte after the other of its saves, its record appends and Finish,
// as a crash would stop it: the next Init opens the document, which holds a prefix of the
// articles in the download's order, each with its files whole, the record files hold exactly
// their records, and nothing of the protocol stays behind.
TEST(OvkHostCrash, AKillAtAnyByteLeavesADocumentThatOpensWithTheArticlesSavedBefore) {
    RefService service;
    const std::string settings = demoSettings(service.url());
    std::map<std::string, std::vector<nlohmann::json>> filesOf;
    const nlohmann::json project = test::catalogProject("DEMO");
    for (const auto& article : project["articles"])
        filesOf[article["id"]] = article.value("documents", std::vector<nlohmann::json>{});

    std::vector<std::string> order;
    struct Left {
        std::vector<std::string> saved;
        std::pair<std::string, std::string> records;  // the symbol and the GER file
        bool restarted;
    };
    std::map<long long, Left> savedRuns;
    int recordsCut = 0;
    std::set<std::size_t> countsSeen;
    bool killedInFinish = false;
    std::size_t previous = 0;
    for (long long bytes = 1;; bytes += std::max(97LL, bytes / 6)) {
        SCOPED_TRACE("killed after " + std::to_string(bytes) + " bytes");
        TempDir work;
        const auto doc = work.write("download.xml", test::downloadDocument("TARVO", settings));
        std::vector<std::string> args{"run", "--settings-dir", (work / "settings").string()};
        args.insert(args.end(), kAllLeaves.begin(), kAllLeaves.end());
        args.push_back(doc.string());
        test::HostRun run;
        {
            const test::ScopedEnvironment crash("OVK_CRASH_AFTER_BYTES", std::to_string(bytes));
            run = runHost(args);
        }
        if (run.status == 0) {
            // Past the last byte: the whole download, and the order every kill is held to.
            order = savedArticles(doc);
            break;
        }
        // The shell that runs the host reports the kill as 128 + SIGKILL.
        ASSERT_EQ(run.status, 128 + SIGKILL) << "killed, not failed: " << run.errors;

        // Every other time the next run comes after a restart of the machine, as after a power
        // failure: it may rely only on what was flushed, and may keep fewer articles.
        const bool restarted = savedRuns.size() % 2 == 1;
        const auto recordsNow = [&] {
            return std::make_pair(readAll(work / "sym.txt"), readAll(work / "ger.txt"));
        };
        const auto recordsKilled = recordsNow();
        test::HostRun again;
        {
            const test::ScopedEnvironment boot(
                "OVK_BOOT_ID",
                restarted ? std::optional<std::string>("another boot") : std::nullopt);
            again = runHost(
                {"run", "--init-only", "--settings-dir", (work / "settings").string(), doc});
        }
        ASSERT_FALSE(again.lines.empty());
        ASSERT_EQ(again.lines.back(), nlohmann::json({{"init", 0}})) << again.lines.front();
        const std::vector<std::string> saved = savedArticles(doc);
        if (!restarted) {
            EXPECT_GE(saved.size(), previous);
            previous = saved.size();
        }
        countsSeen.insert(saved.size());
        for (const std::string& id : saved) {
            for (const auto& file : filesOf[id]) {
                EXPECT_EQ(readAll(work / file["name"].get<std::string>()),
                          readAll(std::string(OVK_EXAMPLES_DIR) + "/catalog/" +
                                  file["file"].get<std::string>()))
                    << id;
            }
        }
        // Killed with every article saved: in the middle of Finish.
        killedInFinish = killedInFinish || saved.size() == filesOf.size();
        // Only the plan stays, for the download to be continued.
        for (const auto& entry : std::filesystem::directory_iterator(work.path())) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(!name.starts_with(".download.xml") || name == ".download.xml.ovk-plan")
                << entry.path();
        }
        // Checked against the whole download's order below.
        savedRuns[bytes] = {saved, recordsNow(), restarted};
        recordsCut += savedRuns[bytes].records != recordsKilled;
    }
    ASSERT_EQ(order.size(), filesOf.size());
    const auto allRecords = recordFilesOf(order);
    for (const auto& [bytes, left] : savedRuns) {
        SCOPED_TRACE("killed after " + std::to_string(bytes) + " bytes");
        EXPECT_TRUE(std::equal(left.saved.begin(), left.saved.end(), order.begin()));
        const auto records = recordFilesOf(left.saved);
        if (!left.restarted) {
            EXPECT_EQ(left.records, records);
            continue;
        }
        // After a restart, records of articles saved after the last flush may remain, the last
        // one possibly cut short: never fewer, never others.
        for (const auto& [file, expected, all] :
             {std::tuple(left.records.first, records.first, allRecords.first),
              std::tuple(left.records.second, records.second, allRecords.second)}) {
            EXPECT_TRUE(file.starts_with(expected) && all.starts_with(file)) << file;
        }
    }
    // Kills in the middle of record appends and between them and the article's save were
    // among them: the repair cut records off.
    EXPECT_GT(recordsCut, 0);
    // Kills before the first save, between saves and during Finish were all among them.
    EXPECT_TRUE(countsSeen.contains(0));
    EXPECT_GE(countsSeen.size(), 4u);
    EXPECT_TRUE(killedInFinish);
}

// One download per document, whatever name it goes by: while one runs, another Init on the same
// document (or on another hard link to it, in another folder) is refused at once with a clear
// Exception, and the running download completes with all of its articles.
TEST(OvkHostConcurrentDownloads, ASecondRunOnTheSameDocumentIsRefusedAndLosesNothing) {
    for (const bool hardLink : {false, true}) {
        SCOPED_TRACE(hardLink ? "hard link in another folder" : "same name");
        // Slow enough that the second starts, even on a loaded machine, before the first ends.
        RefService service({"--latency-ms", "250"});
        TempDir work;
        const auto doc = work.write("download.xml",
                                    test::downloadDocument("TARVO", demoSettings(service.url())));
        std::filesystem::path secondName = doc;
        if (hardLink) {
            secondName = work / "elsewhere" / "linked.xml";
            std::filesystem::create_directory(secondName.parent_path());
            std::filesystem::create_hard_link(doc, secondName);
        }
        const std::string settings = (work / "settings").string();
        std::vector<std::string> args{"run", "--settings-dir", settings};
        args.insert(args.end(), kAllLeaves.begin(), kAllLeaves.end());
        args.push_back(doc.string());
        auto first = std::async(std::launch::async, [&] { return runHost(args); });
        // The first is between its articles once its journal exists.
        const auto journal = work / ".download.xml.ovk-journal";
        for (int i = 0; i < 600 && !std::filesystem::exists(journal); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(std::filesystem::exists(journal));

        const test::HostRun second =
            runHost({"run", "--settings-dir", settings, "--fields", "Product group", "--leaf",
                     "Sensors", "--mark", "all", "--finish", secondName.string()});
        EXPECT_EQ(second.status, 1);
        ASSERT_FALSE(second.lines.empty());
        EXPECT_EQ(second.lines.back(), nlohmann::json({{"init", -992}}));
        const std::string refusal = second.lines.front().dump();
        EXPECT_NE(refusal.find("in use by another download"), std::string::npos) << refusal;
        EXPECT_NE(refusal.find("70"), std::string::npos) << refusal;

        const test::HostRun done = first.get();
        ASSERT_EQ(done.status, 0) << done.errors << done.lines.back();
        EXPECT_EQ(savedArticles(doc).size(), test::catalogProject("DEMO")["articles"].size());
        EXPECT_TRUE(std::filesystem::equivalent(doc, secondName));
    }
}

INSTANTIATE_TEST_SUITE_P(Replies, OvkHostDownload,
                         ::testing::Values(std::vector<std::string>{},
                                           std::vector<std::string>{"--indent"},
                                           std::vector<std::string>{"--gzip"}));

// What support reads after a download through a proxy: one line per attempt, the refused one
// and its repeat too, with the bytes on the wire and inflated, and none of the secrets used.
TEST(OvkHostTrace, AWholeDownloadIsTracedWithoutASecret) {
    if (::access(test::kTinyproxy, X_OK) != 0) GTEST_SKIP() << "tinyproxy is not installed";
    RefService service({"--gzip", "--fault", "GetItemData=http503:0@4713x1"});
    TempDir work;
    test::Tinyproxy proxy(work, "alice s3cret");
    ASSERT_TRUE(proxy.running());
    const std::string proxyPort = proxy.hostPort().substr(proxy.hostPort().rfind(':') + 1);
    const auto doc =
        work.write("download.xml", test::downloadDocument("TARVO", demoSettings(service.url())));
    const std::string trace = (work / "trace.jsonl").string();
    const test::ScopedEnvironment password("OVK_PROXY_PASSWORD", "s3cret");
    const test::HostRun r = runHost({"run",
                                     "--settings-dir",
                                     (work / "settings").string(),
                                     "--proxy-ip",
                                     "127.0.0.1",
                                     "--proxy-port",
                                     proxyPort,
                                     "--proxy-user",
                                     "alice",
                                     "--trace",
                                     trace,
                                     "--trace-bodies",
                                     "--fields",
                                     "Product group",
                                     "--leaf",
                                     "Motors",
                                     "--mark",
                                     "all",
                                     "--finish",
                                     doc.string()});
    ASSERT_EQ(r.status, 0) << r.errors;

    const std::string text = readAll(trace);
    for (const char* secret : {"s3cret", "alice", "demo", "Authorization"})
        EXPECT_EQ(text.find(secret), std::string::npos) << secret;
    std::vector<std::string> items;
    std::size_t lines = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line); ++lines) {
        const auto entry = nlohmann::json::parse(line);
        EXPECT_GT(entry["sent"].get<int>(), 0) << line;
        if (entry["operation"] != "GetItemData") continue;
        items.push_back(entry["article"].get<std::string>() + "#" +
                        std::to_string(entry["attempt"].get<int>()) + " " +
                        std::to_string(entry["status"].get<int>()) + " " +
                        entry["outcome"].get<std::string>().substr(0, 7));
        if (entry["status"] == 200) {
            EXPECT_GT(entry["inflated"].get<int>(), entry["received"].get<int>()) << line;
            EXPECT_NE(entry["reply"].get<std::string>().find("Articleinfo"), std::string::npos);
            EXPECT_NE(entry["request"].get<std::string>().find("***"), std::string::npos);
        }
    }
    EXPECT_EQ(items,
              (std::vector<std::string>{"4711#1 200 ok", "4712#1 200 ok", "4713#1 503 retried",
                                        "4713#2 200 ok", "4714#1 200 ok"}));
    EXPECT_GT(lines, items.size());  // the start-up's calls and the wizard's are there too
    EXPECT_EQ(std::filesystem::status(trace).permissions() & std::filesystem::perms::others_read,
              std::filesystem::perms::none);
}

// A company's service behind HTTPS with its own certificate authority, trusted through the
// per-user setting: the whole download goes over the checked connection.
TEST(OvkHostDownloadOverTls, ACompanyAuthorityNamedInTheSettingsCarriesAWholeDownload) {
    const test::TestCertificates certificates;
    const test::ScopedEnvironment noSslCertFile("SSL_CERT_FILE", std::nullopt);
    const test::ScopedEnvironment noCurlCaBundle("CURL_CA_BUNDLE", std::nullopt);
    RefService service(certificates.loopback().serveArgs());
    ASSERT_EQ(service.url().rfind("https://", 0), 0u) << service.url();
    TempDir work;
    const auto settings = work.path() / "settings";
    std::filesystem::create_directories(settings);
    work.write("settings/VelmoraDotNet.ini",
               "[Settings]\nCAFile=" + certificates.authority().string() + "\n");
    const auto doc =
        work.write("download.xml", test::downloadDocument("TARVO", demoSettings(service.url())));
    const test::HostRun r =
        runHost({"run", "--settings-dir", settings.string(), "--fields", "Product group", "--leaf",
                 "Motors", "--mark", "all", "--finish", doc.string()});
    ASSERT_EQ(r.status, 0) << r.errors;
    ASSERT_FALSE(r.lines.empty());
    EXPECT_EQ(r.lines.back(), nlohmann::json({{"event", "DownloadComplete"}}));
    const xml::Document finished = xml::Document::loadFile(doc);
    EXPECT_EQ(finished.elementsByName("Articleinfo").size(), 4u);
    EXPECT_EQ(readAll(work / "4711_datasheet.pdf"),
              readAll(std::string(OVK_EXAMPLES_DIR) + "/catalog/docs/motor_ac_datasheet.pdf"));

    // Without the setting the same service is refused, and says why.
    std::filesystem::remove(settings / "VelmoraDotNet.ini");
    const test::HostRun refused =
        runHost({"run", "--init-only", "--settings-dir", settings.string(), doc.string()});
    EXPECT_EQ(refused.status, 1);
    ASSERT_FALSE(refused.lines.empty());
    EXPECT_EQ(refused.lines.back(), nlohmann::json({{"init", -9}}));
    EXPECT_NE(refused.lines.front().dump().find("not trusted"), std::string::npos)
        << refused.lines.front().dump();
}

TEST(OvkHostProgress, DrawsABarPerItemWhenStandardErrorIsATerminal) {
    RefService service;
    TempDir work;
    const auto doc =
        work.write("download.xml", test::downloadDocument("TARVO", demoSettings(service.url())));
    const std::string settings = (work / "settings").string();
    std::vector<std::string> args = {
        OVK_HOST_BIN,     "run",    "--batch",  "--component-dir", OVK_DATA_DIR,
        "--settings-dir", settings, "--fields", "Product group",   "--leaf",
        "Motors",         "--mark", "all",      "--finish",        doc.string()};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Events on standard output go elsewhere; standard error stays the terminal.
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    std::string shown;
    char buffer[4096];
    for (ssize_t got; (got = ::read(terminal, buffer, sizeof buffer)) > 0;)
        shown.append(buffer, got);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(terminal);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
    for (const char* step : {"] 1/4 items", "] 2/4 items", "] 3/4 items", "] 4/4 items"})
        EXPECT_NE(shown.find(step), std::string::npos) << step << " in " << shown;
    EXPECT_NE(shown.find("[==============================>         ] 3/4 items"), std::string::npos)
        << shown;
}

}  // namespace
}  // namespace ovk
