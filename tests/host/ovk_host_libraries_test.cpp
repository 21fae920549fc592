// SPDX-License-Identifier: MIT
// What ovk-host loads: batch runs and checks start without Qt, whose loading would cost them
// more than their own work, while a run with windows still shows Qt's.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "component_folder.hpp"
#include "host_run.hpp"
#include "ref_service.hpp"

namespace ovk {
namespace {

using test::RefService;
using test::shellQuote;
using test::TempDir;

struct RecordedRun {
    int status = -1;
    std::string output;               // standard output and error
    std::set<std::string> libraries;  // the file names the dynamic linker loaded, e.g. libc.so.6
};

// Runs `program` under `env` with these environment changes ("-u NAME" or "NAME=value"), the
// dynamic linker noting every object it loads, also across the hand-over to another program.
RecordedRun runRecordingLibraries(const std::string& program,
                                  const std::vector<std::string>& environment,
                                  const std::vector<std::string>& args) {
    const TempDir scratch;
    std::string command = "env";
    for (const auto& e : environment) command += " " + shellQuote(e);
    command += " LD_DEBUG=files LD_DEBUG_OUTPUT=" + shellQuote((scratch / "ld").string());
    command += " " + shellQuote(program);
    for (const auto& a : args) command += " " + shellQuote(a);
    command += " 2>&1";
    RecordedRun run;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) run.output += buffer;
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) {
        if (!entry.path().filename().string().starts_with("ld.")) continue;
        const std::string log = test::readAll(entry.path());
        for (auto at = log.find("file="); at != std::string::npos; at = log.find("file=", at)) {
            at += 5;
            const auto end = log.find_first_of(" ;\n[", at);
            run.libraries.insert(
                std::filesystem::path(log.substr(at, end - at)).filename().string());
        }
    }
    return run;
}

bool loadsAny(const RecordedRun& run, const std::string& prefix) {
    for (const auto& library : run.libraries) {
        if (library.starts_with(prefix)) return true;
    }
    return false;
}

TEST(OvkHostLibraries, OnlyRunsWithWindowsLoadTheQtUserInterface) {
    RefService service;
    const TempDir work;
    const std::string document =
        work.write("download.xml",
                   test::downloadDocument("TARVO", test::demoSettings(service.url())))
            .string();
    const std::string settings = (work / "settings").string();
    const std::vector<std::string> headless = {"-u", "DISPLAY",        "-u", "WAYLAND_DISPLAY",
                                               "-u", "QT_QPA_PLATFORM"};
    // Qt's minimal platform shows real windows without a display server; the component folder
    // is found as an installed host finds it, beside the library.
    const std::vector<std::string> windows = {"-u",          "WAYLAND_DISPLAY",
                                              "-u",          "OVK_COMPONENT_DIR",
                                              "DISPLAY=:97", "QT_QPA_PLATFORM=minimal"};
    struct Case {
        const char* name;
        std::vector<std::string> environment;
        std::vector<std::string> args;
        bool windows;
        const char* output;
    };
    for (const Case& c : {
             Case{"check",
                  headless,
                  {"check", "--component-dir", OVK_DATA_DIR, document},
                  false,
                  R"("check":0)"},
             Case{"run --batch",
                  {},
                  {"run", "--batch", "--init-only", "--component-dir", OVK_DATA_DIR,
                   "--settings-dir", settings, document},
                  false,
                  R"({"init":0})"},
             Case{"run without a display",
                  headless,
                  {"run", "--init-only", "--component-dir", OVK_DATA_DIR, "--settings-dir",
                   settings, document},
                  false,
                  R"({"init":0})"},
             Case{"run with windows",
                  windows,
                  {"run", "--init-only", "--settings-dir", settings, document},
                  true,
                  R"({"init":0})"},
         }) {
        SCOPED_TRACE(c.name);
        const RecordedRun run = runRecordingLibraries(OVK_HOST_BIN, c.environment, c.args);
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_NE(run.output.find(c.output), std::string::npos) << run.output;
        EXPECT_TRUE(loadsAny(run, "libxml2.so") && loadsAny(run, "libcurl.so"))
            << "the linker's log was not read";
        EXPECT_EQ(loadsAny(run, "libQt6Gui.so"), c.windows);
        EXPECT_EQ(loadsAny(run, "libQt6Widgets.so"), c.windows);
        // The settings are read and written without Qt too: not even its core is loaded.
        EXPECT_EQ(loadsAny(run, "libQt6Core.so"), c.windows);
    }
}

// A host copied without its windowed half says so rather than failing in some other way.
TEST(OvkHostLibraries, ARunWithWindowsWithoutTheDesktopHostIsAClearError) {
    const TempDir alone;
    const auto copy = alone / "ovk-host";
    std::filesystem::copy_file(OVK_HOST_BIN, copy);
    const RecordedRun run =
        runRecordingLibraries(copy.string(), {"DISPLAY=:97", "QT_QPA_PLATFORM=minimal"},
                              {"run", "--init-only", (alone / "download.xml").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("ovk-host: cannot show windows"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("--batch"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace ovk
