// A whole download driven through ovk-host's wizard script, as a host developer runs it:
// the files written beside the download document, and a second run on the finished document.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "component_folder.hpp"
#include "host_run.hpp"
#include "platform/xml/document.hpp"
#include "ref_service.hpp"
#include "scoped_environment.hpp"
#include "service/catalog_results.hpp"
#include "test_certificates.hpp"

namespace ovk {
namespace {

using test::readAll;
using test::RefService;
using test::runHost;
using test::TempDir;

struct OvkHostDownload : ::testing::TestWithParam<std::vector<std::string>> {
    TempDir work;
    std::filesystem::path document(const RefService& service) {
        return work.write("download.xml",
                          test::downloadDocument("TARVO", "<URL>" + service.url() +
                                                              "</URL><ProjectID>DEMO</ProjectID>"
                                                              "<Language>English</Language>"
                                                              "<Password>demo</Password>"));
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

TEST_P(OvkHostDownload, AServiceFailingInTheMiddleLeavesTheItemsBefore) {
    std::vector<std::string> args = GetParam();
    args.insert(args.end(), {"--fault", "GetItemData=http500@4713"});
    RefService service(args);
    const auto doc = document(service);
    const test::HostRun r = download(doc, {"--leaf", "Motors", "--mark", "all", "--finish"});
    EXPECT_EQ(r.status, 1);
    // The failed request reaches the host once; the download never completes.
    EXPECT_EQ(events(r), std::vector<std::string>{"Exception GetItemData"});
    const xml::Document saved = xml::Document::loadFile(doc);
    std::vector<std::string> numbers;
    for (const xml::Node& item : saved.elementsByName("Articleinfo"))
        numbers.push_back(item.childElements().at(0).text());
    EXPECT_EQ(numbers, (std::vector<std::string>{"4711", "4712"}));
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
    const auto doc = work.write(
        "run/download.xml", test::downloadDocument("TARVO", "<URL>" + service.url() +
                                                                "</URL><ProjectID>DEMO</ProjectID>"
                                                                "<Language>English</Language>"
                                                                "<Password>demo</Password>"));
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
    };
    const std::vector<std::string> motors = {"4711", "4712", "4713", "4714"};
    const std::vector<Case> cases = {
        {1, nullptr, motors},
        {2, nullptr, motors},
        {4, nullptr, motors},
        {4, "GetItemData=soapfault@4713", {"4711", "4712"}},
        {3, "GetItemData=malformed@4712", {"4711"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("MaxRequestsInFlight=" + std::to_string(c.setting) + " " +
                     (c.fault ? c.fault : "no fault"));
        TempDir work;
        // Held back long enough that requests fetched ahead overlap at the service.
        std::vector<std::string> args{"--latency-ms", "40"};
        if (c.fault) args.insert(args.end(), {"--fault", c.fault});
        RefService service(args);
        const auto doc = work.write(
            "download.xml", test::downloadDocument("TARVO", "<URL>" + service.url() +
                                                                "</URL><ProjectID>DEMO</ProjectID>"
                                                                "<Language>English</Language>"
                                                                "<Password>demo</Password>"));
        work.write("settings/VelmoraDotNet.ini",
                   "[Settings]\nMaxRequestsInFlight=" + std::to_string(c.setting) + "\n");
        const test::HostRun r = runHost({"run", "--settings-dir", (work / "settings").string(),
                                         "--fields", "Product group", "--leaf", "Motors", "--mark",
                                         "all", "--finish", doc.string()});
        EXPECT_EQ(r.status, c.fault ? 1 : 0) << r.errors;
        const bool completed =
            !r.lines.empty() && r.lines.back() == nlohmann::json({{"event", "DownloadComplete"}});
        EXPECT_EQ(completed, c.fault == nullptr);
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

INSTANTIATE_TEST_SUITE_P(Replies, OvkHostDownload,
                         ::testing::Values(std::vector<std::string>{},
                                           std::vector<std::string>{"--indent"}));

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
    const auto doc = work.write(
        "download.xml", test::downloadDocument("TARVO", "<URL>" + service.url() +
                                                            "</URL><ProjectID>DEMO</ProjectID>"
                                                            "<Language>English</Language>"
                                                            "<Password>demo</Password>"));
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
    const auto doc = work.write(
        "download.xml", test::downloadDocument(
                            "TARVO", "<URL>" + service.url() +
                                         "</URL><ProjectID>DEMO</ProjectID>"
                                         "<Language>English</Language><Password>demo</Password>"));
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
