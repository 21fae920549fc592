// SPDX-License-Identifier: MIT
// ovk-host: a host program for the component. It drives a Client the way a desktop host does
// and prints every event as one JSON line, so scripts, tests and host developers can see exactly
// what the component reports.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "component/client_impl.hpp"
#include "desktop_run.hpp"
#include "document/client_resources.hpp"
#include "event_printer.hpp"
#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "platform/ini_settings_store.hpp"
#include "platform/manual_clock.hpp"
#include "platform/numbers.hpp"
#include "platform/text.hpp"
#include "stop_signals.hpp"
#include "wizard_script.hpp"

namespace {

using namespace ovk;
using host::printLine;

constexpr const char* kCheckUsage = R"(  ovk-host check [--component-dir DIR] DOWNLOAD_FILE
      Runs the start-up checks that need no service: the document exists, is well-formed, its
      project type and schema, validation, its settings and project language.
)";

constexpr const char* kRunUsage = R"(  ovk-host run [options] DOWNLOAD_FILE
      Creates a Client, runs Init and (unless --init-only) Show, printing every event.
options:
  --gui-lang ID           user-interface language (GUILangID) from 0 to 32767, e.g. 1033
                          or 1031; a language the resource file lacks shows English (1033)
  --service-url URL       ServiceUrl (the document's URL element takes precedence)
  --proxy-ip HOST         ProxyIP          --proxy-port N     ProxyPort
  --proxy-user NAME       ProxyUserName
  --proxy-password-file FILE  ProxyPassword: the first line of FILE; without this option
                          and --proxy-password, the variable OVK_PROXY_PASSWORD gives it
  --proxy-password P      ProxyPassword; visible to every user of this computer (ps), so
                          prefer the file or the variable
  --trace FILE            append one JSON line per service call to FILE, for support
                          (passwords and proxy credentials are written as ***)
  --trace-bodies          with --trace: the request and reply bodies too
  --init-only             stop after Init
  --continue              continue the download that stopped before its end (by Ctrl+C,
                          SIGTERM, the wizard's Stop, a failure or a crash) from the next
                          article, without windows, instead of showing the wizard; exit
                          status 2 when the document holds no such download
  --answer ok|cancel|yes|no   answer the next message box (repeatable, in order) with
                          one of its buttons; unanswered boxes take their default
                          button; implies --batch
  --batch                 no windows: forms run without a screen and message boxes are
                          answered as above (the default when there is no display)
  --component-dir DIR     where the component's files are (default: beside the library)
  --settings-dir DIR      where the per-user settings are kept (default: the user's
                          configuration folder)
wizard script (implies --batch; acted out in the given order, as a user's clicks would):
  --fields "NAME;NAME"    back to the field selection, choose these fields in this order, Next
  --leaf "VALUE/VALUE/.." select the tree leaf with these values on its path from the root
                          (write \/ for a / inside a value) and wait for its article list
  --mark all|ID,ID        check all rows of the article list, or the rows of these articles
  --unmark all|ID,ID      clear them
  --finish | --cancel     end the wizard (last; without either the window is just closed)
)";

constexpr const char* kUsageTail =
    R"(Every event is printed as one JSON line; run ends with {"init":CODE}. The exit status is 0
when Init gave 0 and nothing failed, 1 otherwise, 2 for a usage error (an option the
program does not know, a script step naming a field, path or article that is not there, or
an --answer that is no button of its box). Ctrl+C or SIGTERM during a download stops it
after the article being fetched (continue it with --continue) and ends with 130 or 143.
  ovk-host --version      prints the component's version
)";

std::string usageText() {
    return std::string("usage:\n") + kCheckUsage + kRunUsage + kUsageTail;
}

struct Options {
    std::string command;
    std::string downloadFile;
    std::optional<int16_t> guiLang;
    std::optional<std::string> serviceUrl, proxyIp, proxyUser, proxyPassword;
    std::optional<std::filesystem::path> proxyPasswordFile;
    std::string traceFile;
    bool traceBodies = false;
    std::optional<int32_t> proxyPort;
    bool initOnly = false;
    bool continueDownload = false;
    bool batch = false;
    std::vector<MsgBoxAnswer> answers;
    std::optional<std::filesystem::path> componentDir, settingsDir;
    std::vector<host::WizardAction> script;
};

[[noreturn]] void usageError(const std::string& message) {
    std::cerr << "ovk-host: " << message << "\n" << usageText();
    std::exit(2);
}

MsgBoxAnswer parseAnswer(const std::string& text) {
    if (text == "ok") return MsgBoxAnswer::Ok;
    if (text == "cancel") return MsgBoxAnswer::Cancel;
    if (text == "yes") return MsgBoxAnswer::Yes;
    if (text == "no") return MsgBoxAnswer::No;
    usageError("--answer takes ok, cancel, yes or no, not '" + text + "'");
}

template <class Int>
Int parseWhole(const std::string& option, const std::string& text) {
    try {
        if constexpr (sizeof(Int) == 2) {
            return numbers::toInt16(text);
        } else {
            return numbers::toInt32(text);
        }
    } catch (const Error&) {
        usageError(option + " takes a whole number, not '" + text + "'");
    }
}

Options parseOptions(int argc, char** argv) {
    Options o;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::cout << usageText();
        std::exit(args.empty() ? 2 : 0);
    }
    if (args[0] == "--version") {
        std::cout << "ovk_client " << ovk::version() << "\n";
        std::exit(0);
    }
    o.command = args[0];
    if (o.command != "check" && o.command != "run")
        usageError("unknown command '" + o.command + "'");
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) usageError(a + " needs a value");
            return args[++i];
        };
        using Kind = host::WizardAction::Kind;
        if (a == "--help" || a == "-h") {
            std::cout << "usage:\n" << (o.command == "check" ? kCheckUsage : kRunUsage);
            std::exit(0);
        } else if (a == "--gui-lang") {
            const std::string text = value();
            int32_t id = -1;
            try {
                id = numbers::toInt32(text);
            } catch (const Error&) {
            }
            if (id < 0 || id > 32767)
                usageError("--gui-lang takes a language number from 0 to 32767, not '" + text +
                           "'");
            o.guiLang = static_cast<int16_t>(id);
        } else if (a == "--fields")
            o.script.push_back({Kind::Fields, value()});
        else if (a == "--leaf")
            o.script.push_back({Kind::Leaf, value()});
        else if (a == "--mark")
            o.script.push_back({Kind::Mark, value()});
        else if (a == "--unmark")
            o.script.push_back({Kind::Unmark, value()});
        else if (a == "--finish")
            o.script.push_back({Kind::Finish, {}});
        else if (a == "--cancel")
            o.script.push_back({Kind::Cancel, {}});
        else if (a == "--service-url")
            o.serviceUrl = value();
        else if (a == "--proxy-ip")
            o.proxyIp = value();
        else if (a == "--proxy-port")
            o.proxyPort = parseWhole<int32_t>(a, value());
        else if (a == "--proxy-user")
            o.proxyUser = value();
        else if (a == "--proxy-password")
            o.proxyPassword = value();
        else if (a == "--proxy-password-file")
            o.proxyPasswordFile = value();
        else if (a == "--trace")
            o.traceFile = value();
        else if (a == "--trace-bodies")
            o.traceBodies = true;
        else if (a == "--init-only")
            o.initOnly = true;
        else if (a == "--continue")
            o.continueDownload = true;
        else if (a == "--answer")
            o.answers.push_back(parseAnswer(value()));
        else if (a == "--batch")
            o.batch = true;
        else if (a == "--component-dir")
            o.componentDir = value();
        else if (a == "--settings-dir")
            o.settingsDir = value();
        else if (a.starts_with("--"))
            usageError("unknown option " + a);
        else if (o.downloadFile.empty())
            o.downloadFile = a;
        else
            usageError("only one DOWNLOAD_FILE, please");
    }
    if (o.downloadFile.empty()) usageError("DOWNLOAD_FILE is missing");
    if (o.traceBodies && o.traceFile.empty()) usageError("--trace-bodies needs --trace FILE");
    if (o.proxyPassword && o.proxyPasswordFile)
        usageError("--proxy-password and --proxy-password-file exclude each other");
    if (o.continueDownload && (o.command != "run" || o.initOnly || !o.script.empty()))
        usageError("--continue needs run without --init-only and without a wizard script");
    if (!o.script.empty()) {
        if (o.command != "run" || o.initOnly)
            usageError("the wizard script options need run without --init-only");
        try {
            host::checkWizardScript(o.script);
        } catch (const host::ScriptError& e) {
            usageError(e.what());
        }
    }
    return o;
}

// The proxy password from where a user can keep it out of the process list: a file (its first
// line, as `printf '%s\n' secret >FILE` writes it) or the environment. An unreadable file is a
// usage error: running on without the password would only end in the proxy's refusal.
std::optional<std::string> proxyPassword(const Options& o) {
    if (o.proxyPassword) return o.proxyPassword;
    if (o.proxyPasswordFile) {
        std::ifstream in(*o.proxyPasswordFile, std::ios::binary);
        std::string line;
        if (!in || (!std::getline(in, line) && !in.eof()))
            usageError("--proxy-password-file: cannot read " + o.proxyPasswordFile->string());
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::error_code ec;
        const auto perms = std::filesystem::status(*o.proxyPasswordFile, ec).permissions();
        if (!ec && (perms & std::filesystem::perms::others_read) != std::filesystem::perms::none)
            std::cerr << "ovk-host: warning: " << o.proxyPasswordFile->string()
                      << " is readable by every user of this computer (chmod 600 it)\n";
        return line;
    }
    if (const char* fromEnvironment = std::getenv("OVK_PROXY_PASSWORD"))
        return std::string(fromEnvironment);
    return std::nullopt;
}

// The component's files sit in the installed library's own folder, or, in the build tree,
// beside the library in ../lib relative to ovk-host's folder.
void locateComponent(const Options& o) {
    if (o.componentDir) {
        files::setComponentDir(std::filesystem::absolute(*o.componentDir));
        return;
    }
    if (std::getenv("OVK_COMPONENT_DIR") != nullptr) return;
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return;
    for (const auto& candidate : {exe.parent_path() / OVK_COMPONENT_DIR_FROM_BIN,
                                  exe.parent_path() / ".." / "lib", exe.parent_path()}) {
        if (files::findCaseInsensitive(candidate, "nls.xml")) {
            files::setComponentDir(std::filesystem::weakly_canonical(candidate));
            return;
        }
    }
}

// Windows need a display; an offscreen Qt platform is none a user could answer boxes on.
bool hasDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && std::string(platform) == "offscreen") return false;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

bool runsBatch(const Options& o) {
    return o.batch || o.continueDownload || !o.answers.empty() || !o.script.empty() ||
           !hasDisplay();
}

// An answer the box has no button for would be read by the component as some other button:
// the script is wrong, and saying so beats printing an answer nobody acted on.
void requireButtonOfTheBox(const MessageBoxRequest& box, MsgBoxAnswer answer) {
    const auto buttons = static_cast<MsgBoxButtons>(box.Buttons);
    if (isAnswerOf(buttons, answer)) return;
    std::string names;
    for (const MsgBoxAnswer candidate :
         {MsgBoxAnswer::Ok, MsgBoxAnswer::Cancel, MsgBoxAnswer::Abort, MsgBoxAnswer::Retry,
          MsgBoxAnswer::Ignore, MsgBoxAnswer::Yes, MsgBoxAnswer::No}) {
        if (!isAnswerOf(buttons, candidate)) continue;
        names += (names.empty() ? "" : ", ") + std::string(host::answerName(candidate));
    }
    usageError("--answer " + std::string(host::answerName(answer)) + " is no button of the box \"" +
               box.Title + "\"; its buttons are " + names);
}

// The events of a run without windows: the component puts its message boxes here, and they are
// answered from --answer in order, or with their default button.
class BatchEvents : public host::EventPrinter {
  public:
    explicit BatchEvents(std::vector<MsgBoxAnswer> answers) : answers_(std::move(answers)) {}

    int32_t MessageBox(const MessageBoxRequest& box) override {
        MsgBoxAnswer answer = static_cast<MsgBoxAnswer>(box.DefaultAnswer);
        if (next_ < answers_.size()) {
            answer = answers_[next_++];
            requireButtonOfTheBox(box, answer);
        }
        host::printBox(boundedText(box.Title), boundedText(box.Text), answer);
        return static_cast<int32_t>(answer);
    }

  private:
    std::vector<MsgBoxAnswer> answers_;
    std::size_t next_ = 0;
};

bool showsWindows(const Options& o) {
    return o.command == "run" && !runsBatch(o);
}

// A run without windows is an unattended client of the component, as any host without a user
// has; only the user's settings folder is this program's to choose.
std::shared_ptr<const ClientServices> makeServices(const Options& o) {
    if (showsWindows(o))
        return std::make_shared<const ClientServices>(host::desktopServices(o.settingsDir));
    ClientServices services = baseClientServices();
    services.ui = std::make_shared<ScriptedUserInterface>();
    services.settings = std::make_shared<IniSettingsStore>(o.settingsDir);
    services.timers = std::make_shared<ManualClock>();
    return std::make_shared<const ClientServices>(std::move(services));
}

int runCheck(const Options& o) {
    host::EventPrinter printer;
    Client::Impl client(makeServices(o));
    client.events = &printer;
    client.onStepPassed = [](const char* step, const std::string& detail) {
        printLine({{"finding", step}, {"ok", true}, {"detail", detail}});
    };
    const int32_t result = client.CheckOffline(o.downloadFile);
    nlohmann::json summary = {{"check", result}, {"componentDir", files::componentDir().string()}};
    if (result == 0) {
        summary["projectType"] = client.projectType;
        summary["serviceUrl"] = client.settings.serviceUrl;
        summary["projectId"] = client.settings.projectId;
        summary["language"] = client.settings.projectLanguage;
        summary["proxyIP"] = client.settings.proxyIp;
        summary["proxyPort"] = client.settings.proxyPort;
        summary["guiLangId"] = client.GUILangID;
    }
    printLine(summary);
    return result == 0 && !printer.failed() ? 0 : 1;
}

int runClient(const Options& o, host::StopSignals& signals) {
    BatchEvents printer(o.answers);
    Client client(std::make_unique<Client::Impl>(makeServices(o)));
    client.setEvents(&printer);
    client.Unattended(!showsWindows(o));
    if (o.guiLang) client.GUILangID(*o.guiLang);
    if (o.serviceUrl) client.ServiceUrl(*o.serviceUrl);
    if (o.proxyIp) client.ProxyIP(*o.proxyIp);
    if (o.proxyPort) client.ProxyPort(*o.proxyPort);
    if (o.proxyUser) client.ProxyUserName(*o.proxyUser);
    if (const auto password = proxyPassword(o)) client.ProxyPassword(*password);
    if (!o.traceFile.empty()) client.Trace(o.traceFile, o.traceBodies);
    const int32_t init = client.Init(o.downloadFile);
    printLine({{"init", init}});
    if (init == 0 && !o.initOnly && o.continueDownload) {
        int32_t done = 0;
        int32_t total = 0;
        if (!client.UnfinishedDownload(done, total)) {
            std::cerr << "ovk-host: " << o.downloadFile
                      << " holds no unfinished download to continue\n";
            return 2;
        }
        std::cerr << "ovk-host: continuing after " << done << " of " << total << " articles\n";
        signals.downloading(&client);
        try {
            client.ContinueDownload();
        } catch (const Error&) {
            // Reported as an Exception event, which fails the run.
        }
        signals.downloading(nullptr);
    } else if (init == 0 && !o.initOnly) {
        signals.downloading(&client);
        struct Done {
            host::StopSignals& signals;
            ~Done() { signals.downloading(nullptr); }
        } const done{signals};
        if (o.script.empty()) {
            client.Show();
        } else {
            try {
                host::playWizardScript(client, o.script);
            } catch (const host::ScriptError& e) {
                std::cerr << "ovk-host: " << e.what() << "\n";
                return 2;
            } catch (const Error&) {
                // The component has raised it as an Exception event already.
                return 1;
            }
        }
    }
    if (const int signal = signals.received()) return 128 + signal;
    return init == 0 && !printer.failed() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any other thread exists, so that every thread leaves the two signals to it.
    static host::StopSignals signals;
    const Options options = parseOptions(argc, argv);
    try {
        locateComponent(options);
        if (showsWindows(options)) {
            if (const auto status = host::handOverWindowedRun(argv)) return *status;
        }
        if (options.guiLang && !IsGuiLanguageAvailable(*options.guiLang)) {
            std::cerr << "ovk-host: warning: the resource file has no language " << *options.guiLang
                      << "; the component will use 1033\n";
        }
        return options.command == "check" ? runCheck(options) : runClient(options, signals);
    } catch (const std::exception& e) {
        std::cerr << "ovk-host: " << e.what() << "\n";
        return 1;
    }
}
