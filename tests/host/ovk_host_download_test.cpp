// SPDX-License-Identifier: MIT
// A whole download driven through ovk-host's wizard script, as a host developer runs it:
// the files written beside the download document, and a second run on the finished document.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <future>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "component_folder.hpp"
#include "host_run.hpp"
#include "ref_service.hpp"
#include "scoped_environment.hpp"
#include "service/catalog_results.hpp"
#include "test_certificates.hpp"
#include "tinyproxy.hpp"
#include "xml/document.hpp"

namespace ovk {
namespace {

using test::demoSettings;
using test::readAll;
using test::RefService;
using test::runHost;
using test::TempDir;

// The example catalogue with every file it names as an absolute path, to be changed and
// served from elsewhere.
nlohmann::json exampleCatalog() {
    const std::string examples = std::string(OVK_EXAMPLES_DIR) + "/catalog/";
    std::ifstream in(examples + "catalog.json");
    nlohmann::json catalog = nlohmann::json::parse(in);
    catalog["clientData"]["banner"] = examples + "banner.jpg";
    for (auto& project : catalog["projects"]) {
        for (auto& article : project["articles"]) {
            if (!article.contains("documents")) continue;
            for (auto& document : article["documents"])
                document["file"] = examples + document["file"].get<std::string>();
        }
    }
    return catalog;
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
            if (event == "DownloadProgress") {
                out.push_back(std::to_string(line["done"].get<int>()) + "/" +
                              std::to_string(line["total"].get<int>()));
            } else if (event == "Exception") {
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
    const std::vector<std::string> seen = events(r);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "DownloadComplete");
    const std::string total = std::to_string(seen.size() - 1);
    for (std::size_t i = 0; i + 1 < seen.size(); ++i)
        EXPECT_EQ(seen[i], std::to_string(i + 1) + "/" + total);
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
    EXPECT_EQ(readAll(work / "Banner1.jpg"),
              readAll(std::string(OVK_EXAMPLES_DIR) + "/catalog/banner.jpg"));
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
        const char* guiLang = "1033";
    } cases[] = {
        {"GetItemData=http500@4713",
         {"1/4", "2/4", "Exception GetItemData"},
         {"4711", "4712"},
         "500"},
        {"GetItemData=empty@4713",
         {"1/4", "2/4", "Exception GetItemData", "3/4", "4/4", "DownloadComplete"},
         {"4711", "4712", "4714"},
         "article 4713"},
        {"GetItemData=wrongroot@4713",
         {"1/4", "2/4", "Exception GetItemData", "3/4", "4/4", "DownloadComplete"},
         {"4711", "4712", "4714"},
         "an element Root for article 4713"},
        {"GetItemData=plaintext@4713",
         {"1/4", "2/4", "Exception GetItemData", "3/4", "4/4", "DownloadComplete"},
         {"4711", "4712", "4714"},
         "the text \"No data for this item\" for article 4713"},
        // A failure that outlasts the retries names the article and how often it was tried.
        {"GetItemData=http503:0@4713",
         {"1/4", "2/4", "Exception GetItemData"},
         {"4711", "4712"},
         "Article 4713 could not be fetched: the service answered 503 Service Unavailable to "
         "GetItemData 4 times."},
        {"GetItemData=truncated@4712",
         {"1/4", "Exception GetItemData"},
         {"4711"},
         "Article 4712 could not be fetched: GetItemData failed 4 times, the last time with: The "
         "reply is incomplete"},
        {"GetItemData=http503:0@4714",
         {"1/4", "2/4", "3/4", "Exception GetItemData"},
         {"4711", "4712", "4713"},
         "Artikel 4714 konnte nicht geholt werden: Der Dienst hat 4-mal mit 503 Service "
         "Unavailable auf GetItemData geantwortet.",
         "1031"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        std::vector<std::string> args = GetParam();
        args.insert(args.end(), {"--fault", c.fault});
        RefService service(args);
        const auto doc = document(service);
        const test::HostRun r = download(
            doc, {"--gui-lang", c.guiLang, "--leaf", "Motors", "--mark", "all", "--finish"});
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

// Every payload that cannot be written is named with its article, file and cause, once, and
// costs nothing else: the documents, symbols and GER records after it arrive.
TEST_P(OvkHostDownload, EveryPayloadThatCannotBeWrittenIsNamedAndTheRestArrive) {
    const std::string examples = std::string(OVK_EXAMPLES_DIR) + "/catalog/";
    nlohmann::json catalog = exampleCatalog();
    work.write("empty.bin", "");
    const struct {
        std::string name;
        std::string file;
        std::string saying;  // in the Exception's message
    } refused[] = {
        {"", examples + "docs/motor_ac_datasheet.pdf", "\"\" of article 4711"},
        {"..", examples + "docs/motor_ac_datasheet.pdf", "\"..\" of article 4711"},
        {"sub/a.pdf", examples + "docs/motor_ac_datasheet.pdf", "\"sub/a.pdf\" of article 4711"},
        {std::string(300, 'n'), examples + "docs/motor_ac_datasheet.pdf", "nn\" of article 4711"},
    };
    for (auto& project : catalog["projects"]) {
        for (auto& article : project["articles"]) {
            if (article["id"] != "4711") continue;
            nlohmann::json documents = nlohmann::json::array();
            for (const auto& r : refused) documents.push_back({{"name", r.name}, {"file", r.file}});
            documents.push_back({{"name", "empty.pdf"}, {"file", (work / "empty.bin").string()}});
            for (const auto& d : article["documents"]) documents.push_back(d);
            article["documents"] = documents;
        }
    }
    const auto catalogFile = work.write("catalog.json", catalog.dump());
    RefService service(catalogFile, GetParam());
    const auto doc = document(service);
    std::filesystem::create_directory(work / "sym.txt");  // the host's symbol file name is taken

    const test::HostRun r = download(doc, {"--leaf", "Motors", "--mark", "all", "--finish"});
    EXPECT_EQ(r.status, 1);
    std::vector<std::string> messages;
    for (const auto& line : r.lines) {
        if (line.value("event", "") == "Exception" && line["source"] != "Debugger") {
            EXPECT_EQ(line["source"], "WriteBinaryPayloads") << line.dump();
            messages.push_back(line["message"].get<std::string>());
        }
    }
    std::size_t symbols = 0;
    std::set<std::string> gers;
    const nlohmann::json project = test::catalogProject("DEMO");
    for (const auto& article : project["articles"]) {
        if (article["values"]["7"] != "Motors") continue;
        symbols += article.value("symbols", nlohmann::json::array()).size();
        for (const auto& g : article.value("gers", nlohmann::json::array())) gers.insert(g);
        for (const auto& file : article.value("documents", nlohmann::json::array()))
            EXPECT_EQ(readAll(work / file["name"].get<std::string>()),
                      readAll(examples + file["file"].get<std::string>()));
    }
    ASSERT_EQ(messages.size(), std::size(refused) + symbols) << nlohmann::json(messages).dump(1);
    for (std::size_t i = 0; i < std::size(refused); ++i) {
        EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                                [&](const std::string& m) {
                                    return m.find(refused[i].saying) != std::string::npos;
                                }),
                  1)
            << refused[i].saying;
    }
    EXPECT_NE(messages.back().find("\"sym.txt\" of article 4714"), std::string::npos);
    // An empty document is a document too, in CDATA or as an empty element.
    EXPECT_EQ(readAll(work / "empty.pdf"), "");
    EXPECT_EQ(events(r).back(), "DownloadComplete");
    EXPECT_FALSE(readAll(work / "ger.txt").empty());
    EXPECT_FALSE(std::filesystem::exists(work / "sub"));
}

// With the German user interface every failure the component tells is German: the box, the
// Exception, and the causes inside them.
TEST(OvkHostInGerman, TellsFailuresInTheUsersLanguage) {
    RefService service(
        {"--fault", "GetItemData=empty@4712", "--fault", "GetItemData=gzipbomb:1G@4713"});
    TempDir work;
    const auto doc =
        work.write("download.xml", test::downloadDocument("TARVO", demoSettings(service.url())));
    const test::HostRun r = runHost({"run", "--settings-dir", (work / "settings").string(),
                                     "--gui-lang", "1031", "--fields", "Product group", "--leaf",
                                     "Motors", "--mark", "all", "--finish", doc.string()});
    EXPECT_EQ(r.status, 1);
    std::vector<std::string> said;
    for (const auto& line : r.lines) {
        std::string text;
        if (line.contains("msgbox")) text = line["msgbox"]["text"];
        if (line.value("event", "") == "Exception" && line["source"] != "Debugger")
            text = line["message"];
        // The sizes of the bomb vary with how the service's pieces fall.
        const std::size_t sizes = text.find(" von ");
        if (!text.empty())
            said.push_back(sizes == std::string::npos ? text : text.substr(0, sizes + 5));
    }
    EXPECT_EQ(said, (std::vector<std::string>{
                        "Der Dienst hat f\u00fcr den Artikel 4712 nichts gesendet; er fehlt im "
                        "Download.",
                        "Die Antwort wuchs beim Entpacken von ",
                        "Die Antwort wuchs beim Entpacken von "}))
        << nlohmann::json(said).dump(1);
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

// The program killed at one byte after the other of its saves, its record appends, its payload
// files and Finish, as a crash would stop it: the next Init opens the document, which holds a
// prefix of the articles in the download's order, each with its files whole and no file of
// another, the record files hold exactly their records, and no hidden file stays behind.
TEST(OvkHostCrash, AKillAtAnyByteLeavesADocumentThatOpensWithTheArticlesSavedBefore) {
    RefService service;
    const std::string settings = demoSettings(service.url());
    std::map<std::string, std::vector<nlohmann::json>> filesOf;
    const nlohmann::json project = test::catalogProject("DEMO");
    for (const auto& article : project["articles"])
        filesOf[article["id"]] = article.value("documents", std::vector<nlohmann::json>{});

    // A whole download first: the order every kill is held to, and the record files each
    // prefix of it leaves.
    std::vector<std::string> order;
    {
        TempDir work;
        const auto doc = work.write("download.xml", test::downloadDocument("TARVO", settings));
        std::vector<std::string> args{"run", "--settings-dir", (work / "settings").string()};
        args.insert(args.end(), kAllLeaves.begin(), kAllLeaves.end());
        args.push_back(doc.string());
        // The installed host knows no crash hook: the setting changes nothing for it.
        const test::ScopedEnvironment crash("OVK_CRASH_AFTER_BYTES", "1");
        ASSERT_EQ(runHost(args).status, 0);
        order = savedArticles(doc);
    }
    std::set<std::string> wholeRecordFiles;
    for (std::size_t n = 0; n <= order.size(); ++n) {
        const auto files = recordFilesOf({order.begin(), order.begin() + n});
        wholeRecordFiles.insert({files.first, files.second});
    }
    struct Left {
        std::vector<std::string> saved;
        std::pair<std::string, std::string> records;  // the symbol and the GER file
        bool restarted;
    };
    std::map<long long, Left> savedRuns;
    int recordsCut = 0;
    int tornByPowerCuts = 0;
    std::set<std::size_t> countsSeen;
    bool killedInFinish = false;
    std::size_t previous = 0;
    // The steps grow with the bytes; once past the end, the last stretch (the last articles and
    // Finish) is walked again in finer steps.
    long long lastKilled = 0;
    bool refined = false;
    for (long long bytes = 1, step = 97;; bytes += step) {
        SCOPED_TRACE("killed after " + std::to_string(bytes) + " bytes");
        TempDir work;
        const auto doc = work.write("download.xml", test::downloadDocument("TARVO", settings));
        std::vector<std::string> args{"run", "--settings-dir", (work / "settings").string()};
        args.insert(args.end(), kAllLeaves.begin(), kAllLeaves.end());
        args.push_back(doc.string());
        test::HostRun run;
        {
            const test::ScopedEnvironment crash("OVK_CRASH_AFTER_BYTES", std::to_string(bytes));
            run = runHost(args, true, test::kHostWithTestHooks);
        }
        if (run.status == 0 && !refined && bytes - lastKilled > 2 * 97) {
            refined = true;
            step = std::max(97LL, (bytes - lastKilled) / 12);
            bytes = lastKilled;
            continue;
        }
        if (run.status == 0) {
            EXPECT_EQ(savedArticles(doc), order);
            break;
        }
        // The shell that runs the host reports the kill as 128 + SIGKILL.
        ASSERT_EQ(run.status, 128 + SIGKILL) << "killed, not failed: " << run.errors;
        lastKilled = bytes;
        if (!refined) step = std::max(97LL, bytes / 10);

        // Every other time the next run comes after a restart of the machine, as after a power
        // failure: it may rely only on what was flushed, and may keep fewer articles.
        const bool restarted = savedRuns.size() % 2 == 1;
        const auto recordsNow = [&] {
            return std::make_pair(readAll(work / "sym.txt"), readAll(work / "ger.txt"));
        };
        // A power cut in the middle of a record append leaves the blocks it had allocated but
        // not written as zeros after the torn record.
        if (restarted) {
            for (const char* name : {"sym.txt", "ger.txt"}) {
                const std::string text = readAll(work / name);
                if (!text.empty() && !wholeRecordFiles.contains(text)) {
                    std::ofstream(work / name, std::ios::app) << std::string(700, '\0');
                    ++tornByPowerCuts;
                }
            }
        }
        const auto recordsKilled = recordsNow();
        test::HostRun again;
        {
            const test::ScopedEnvironment boot(
                "OVK_BOOT_ID",
                restarted ? std::optional<std::string>("another boot") : std::nullopt);
            again =
                runHost({"run", "--init-only", "--settings-dir", (work / "settings").string(), doc},
                        true, test::kHostWithTestHooks);
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
        // Nothing hidden stays but the plan, for the download to be continued, and no file of
        // an article the repair undid.
        std::set<std::string> kept;
        for (const std::string& id : saved)
            for (const auto& file : filesOf[id]) kept.insert(file["name"].get<std::string>());
        for (const auto& [id, files] : filesOf)
            for (const auto& file : files) {
                const std::string name = file["name"].get<std::string>();
                EXPECT_TRUE(kept.contains(name) || !std::filesystem::exists(work / name)) << name;
            }
        for (const auto& entry : std::filesystem::directory_iterator(work.path())) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(!name.starts_with(".") || name == ".download.xml.ovk-plan") << name;
        }
        // Checked against the whole download's order below.
        savedRuns[bytes] = {saved, recordsNow(), restarted};
        recordsCut += savedRuns[bytes].records != recordsKilled;
    }
    for (const auto& [bytes, left] : savedRuns) {
        SCOPED_TRACE("killed after " + std::to_string(bytes) + " bytes");
        EXPECT_TRUE(std::equal(left.saved.begin(), left.saved.end(), order.begin()));
        // After a restart too, the record files hold exactly the records of the articles kept.
        EXPECT_EQ(left.records, recordFilesOf(left.saved)) << (left.restarted ? "restarted" : "");
    }
    // Kills in the middle of record appends and between them and the article's save were
    // among them: the repair cut records off.
    EXPECT_GT(recordsCut, 0);
    EXPECT_GT(tornByPowerCuts, 0);
    // Kills before the first save, between saves and during Finish were all among them.
    EXPECT_TRUE(countsSeen.contains(0));
    EXPECT_GE(countsSeen.size(), 4u);
    EXPECT_TRUE(killedInFinish);
}

// A service that stalls after some articles: within about a second of the last save, what was
// saved is on disk and the journal's checkpoint says so, though no save follows. A power cut
// during the stall (the host killed, the next run in another boot) keeps every article saved
// before it.
TEST(OvkHostCrash, APowerCutDuringAStalledServiceKeepsEveryArticleSavedBefore) {
    RefService service({"--fault", "GetItemData=hang@4713"});
    TempDir work;
    const auto doc =
        work.write("download.xml", test::downloadDocument("TARVO", demoSettings(service.url())));
    const std::string settings = (work / "settings").string();
    const pid_t host =
        test::startHost({"run", "--settings-dir", settings, "--fields", "Product group", "--leaf",
                         "Motors", "--mark", "all", "--finish", doc.string()});
    ASSERT_GT(host, 0);
    const std::vector<std::string> before = {"4711", "4712"};
    bool stalled = false;
    for (int i = 0; i < 600 && !stalled; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        try {
            stalled = savedArticles(doc) == before;
        } catch (const std::exception&) {
            // Caught in the middle of a save.
        }
    }
    EXPECT_TRUE(stalled);
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    ::kill(host, SIGKILL);
    ::waitpid(host, nullptr, 0);

    const test::ScopedEnvironment boot("OVK_BOOT_ID", "another boot");
    const test::HostRun again = runHost({"run", "--init-only", "--settings-dir", settings, doc},
                                        true, test::kHostWithTestHooks);
    ASSERT_FALSE(again.lines.empty());
    EXPECT_EQ(again.lines.back(), nlohmann::json({{"init", 0}}));
    EXPECT_EQ(savedArticles(doc), before);
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

INSTANTIATE_TEST_SUITE_P(
    Replies, OvkHostDownload,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"--indent"},
                      std::vector<std::string>{"--gzip"},
                      // as other SOAP stacks send Base64
                      std::vector<std::string>{"--base64-lines", "76"},
                      std::vector<std::string>{"--base64-text", "--indent", "--base64-lines", "64"},
                      std::vector<std::string>{"--spaced-cdata"},
                      // as simple HTTP daemons serve: fetching ahead must neither hang nor
                      // change a byte
                      std::vector<std::string>{"--one-connection"}));

// What support reads after a download through a proxy: one line per attempt, the refused one,
// the one cut partway and their repeats too, with the bytes on the wire and inflated, and none of
// the secrets used.
TEST(OvkHostTrace, AWholeDownloadIsTracedWithoutASecret) {
    if (::access(test::kTinyproxy, X_OK) != 0) GTEST_SKIP() << "tinyproxy is not installed";
    TempDir work;
    // A password holding every character XML escapes, in a project of its own.
    const std::string projectPassword = "Pw&S3<cr>\"t'";
    nlohmann::json catalog = exampleCatalog();
    catalog["projects"][0]["password"] = projectPassword;
    RefService service(work.write("catalog.json", catalog.dump()),
                       {"--gzip", "--fault", "GetItemData=http503:0@4713x1", "--fault",
                        "GetItemData=truncated@4714x1"});
    test::Tinyproxy proxy(work, "alice s3cret");
    ASSERT_TRUE(proxy.running());
    const std::string proxyPort = proxy.hostPort().substr(proxy.hostPort().rfind(':') + 1);
    const auto doc = work.write(
        "download.xml",
        test::downloadDocument("TARVO", "<URL>" + service.url() +
                                            "</URL><ProjectID>DEMO</ProjectID><Language>English"
                                            "</Language><Password>Pw&amp;S3&lt;cr&gt;&quot;t&apos;"
                                            "</Password>"));
    // A trace file left readable by others is made private before the first line.
    const std::string trace = work.write("trace.jsonl", "").string();
    std::filesystem::permissions(trace, std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);
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
    // Every form a secret can take in a request, a reply or a header.
    std::vector<std::string> forms = {"Authorization",        "Pw&amp;S3&lt;cr&gt;&quot;t&apos;",
                                      "Pw&amp;S3&lt;cr>\"t'", "Pw%26S3%3Ccr%3E%22t%27",
                                      "UHcmUzM8Y3I+InQn",     "YWxpY2U6czNjcmV0"};
    for (const std::string& secret : {projectPassword, std::string("s3cret"), std::string("alice")})
        forms.push_back(secret);
    std::vector<std::string> items;
    std::size_t lines = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line); ++lines) {
        const auto entry = nlohmann::json::parse(line);
        for (const auto& [key, value] : entry.items()) {
            if (!value.is_string()) continue;
            for (const std::string& form : forms)
                EXPECT_EQ(value.get<std::string>().find(form), std::string::npos) << form;
        }
        EXPECT_GT(entry["sent"].get<int>(), 0) << line;
        if (entry["operation"] != "GetItemData") continue;
        items.push_back(entry["article"].get<std::string>() + "#" +
                        std::to_string(entry["attempt"].get<int>()) + " " +
                        std::to_string(entry["status"].get<int>()) + " " +
                        entry["outcome"].get<std::string>().substr(0, 7));
        if (entry["outcome"] == "ok") {
            EXPECT_GT(entry["inflated"].get<int>(), entry["received"].get<int>()) << line;
            EXPECT_NE(entry["reply"].get<std::string>().find("Articleinfo"), std::string::npos);
            EXPECT_NE(entry["request"].get<std::string>().find("***"), std::string::npos);
        }
    }
    EXPECT_EQ(items,
              (std::vector<std::string>{"4711#1 200 ok", "4712#1 200 ok", "4713#1 503 retried",
                                        "4713#2 200 ok", "4714#1 200 retried", "4714#2 200 ok"}));
    EXPECT_GT(lines, items.size());  // the start-up's calls and the wizard's are there too
    EXPECT_EQ(std::filesystem::status(trace).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
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
