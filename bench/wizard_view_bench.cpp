// SPDX-License-Identifier: MIT
// The wizard's window on large catalogues: loading a 100,000-node tree, filling the article
// list with 20,000 rows of 12 columns and marking all of them, each with the window drawing the
// result (offscreen), measured against only parsing the same reply in the same run.
//
//   wizard_view_bench [rounds]
//   wizard_view_bench --endpoint URL [--screenshot FILE]
//
// With --endpoint the tree and a leaf's list come from a running service through the real SOAP
// client (ovk-refservice --tree-shape 100x100x100 --leaf-rows 100000 is a catalogue of a million
// nodes); the window opens on the screen it is given (xvfb-run), one branch is expanded down to
// three leaves whose lists are loaded one after another, the window is written to FILE, and the
// times, the longest time the event loop stood still in each (target <= 100 ms) and the peak
// memory are printed.

#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "component/client_services.hpp"
#include "plain_marking.hpp"
#include "platform/manual_clock.hpp"
#include "platform/settings_store.hpp"
#include "qt/qt_application.hpp"
#include "qt/qt_user_interface.hpp"
#include "qt/service_wait.hpp"
#include "qt/wizard_view.hpp"
#include "soap/service_client.hpp"
#include "soap/soap_client.hpp"
#include "wizard/frm_wiz.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTopLevel = 10;
constexpr int kSecondLevel = 100;
constexpr int kLeaves = 100;  // per second-level node: 100,000 leaves in all
constexpr int kRows = 20000;
constexpr int kColumns = 12;

// A service reply as the SOAP client hands it over: the children of the return element.
ovk::xml::NodeList parseReply(const std::string& text) {
    auto doc = std::make_shared<const ovk::xml::Document>(ovk::xml::Document::loadMemory(text));
    return ovk::xml::NodeList(doc, doc->root().children());
}

std::string treeReply() {
    std::string xml = "<return><Node ID=\"0\" Value=\"Catalog\">";
    for (int a = 0; a < kTopLevel; ++a) {
        xml += "<Node ID=\"7\" Value=\"Group " + std::to_string(a) + "\">";
        for (int b = 0; b < kSecondLevel; ++b) {
            xml += "<Node ID=\"3\" Value=\"Maker " + std::to_string(b) + "\">";
            for (int c = 0; c < kLeaves; ++c)
                xml += "<Node ID=\"12\" Value=\"Type " + std::to_string(c) + "\"/>";
            xml += "</Node>";
        }
        xml += "</Node>";
    }
    return xml + "</Node></return>";
}

std::string selectionReply() {
    std::string xml = "<return><Selection>";
    for (int r = 0; r < kRows; ++r) {
        xml += "<Row>";
        for (int c = 0; c < kColumns; ++c) {
            xml += "<Cell ID=\"" + std::to_string(c) + "\" Name=\"Field " + std::to_string(c) +
                   "\" Value=\"" + (c == 0 ? "A" : "value ") + std::to_string(r) + "-" +
                   std::to_string(c) + "\"/>";
        }
        xml += "</Row>";
    }
    return xml + "</Selection></return>";
}

// Answers getTreeData with one stored reply, parsed on every call as the SOAP client would.
class StoredReplies : public ovk::soap::ServiceClient {
  public:
    explicit StoredReplies(std::string tree) : tree_(std::move(tree)) {}
    void initialize(const std::filesystem::path&) override {}
    void setProperty(std::string_view, const ovk::soap::PropertyValue&) override {}
    std::string faultCode() const override { return {}; }
    std::string faultString() const override { return {}; }
    std::string faultActor() const override { return {}; }
    std::string callText(std::string_view, const std::vector<ovk::soap::Argument>&) override {
        return {};
    }
    std::optional<ovk::xml::NodeList> call(std::string_view operation,
                                           const std::vector<ovk::soap::Argument>&) override {
        if (operation != "getTreeData") return std::nullopt;
        return parseReply(tree_);
    }

  private:
    std::string tree_;
};

struct NoEvents : ovk::WizardEvents {
    void Finish() override {}
    void Cancel() override {}
    void Help() override {}
    void DownloadItem(const std::string&) override {}
    void DownloadStructure() override {}
    void NewStepNum(int16_t) override {}
    void DebugInfo(const std::string&) override {}
    void HandlerFailed(int32_t, const std::string&, const std::string&) override {}
};

double secondsOf(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A form's work followed by the window showing it, against a baseline, the two in turn and the
// first of them changing every round; `prepare` runs untimed before each round. The window's
// part also pays for malloc tidying up the reply the form has just freed (a 12 MB document is
// hundreds of thousands of small blocks): after FillList that is most of it, while drawing
// 20,000 rows costs about 15 ms. Prints each round's ratio, then min / median.
template <class Work, class Show, class Baseline, class Prepare>
void compare(const char* what, const char* baselineName, const char* target, int rounds,
             Work&& work, Show&& show, Baseline&& baseline, Prepare&& prepare) {
    std::vector<double> ratios;
    for (int i = 0; i < rounds; ++i) {
        double base = 0;
        if (i % 2 == 0) base = baseline();
        prepare();
        const auto start = Clock::now();
        work();
        const auto shown = Clock::now();
        show();
        const double total = secondsOf(start);
        const double window = secondsOf(shown);
        if (i % 2 == 1) base = baseline();
        ratios.push_back(total / base);
        std::printf("    round %d: %s %.1f ms (window %.1f ms), %s %.1f ms: %.2f x\n", i + 1, what,
                    total * 1e3, window * 1e3, baselineName, base * 1e3, ratios.back());
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("%-26s / %s: min %.2f median %.2f %s\n", what, baselineName, ratios.front(),
                ratios[ratios.size() / 2], target);
}

double plainMarking(const std::vector<ovk::ListView::Row>& rows) {
    const auto start = Clock::now();
    ovk::bench::markPlainly(rows);
    return secondsOf(start);
}

// The longest time the event loop went without turning while a piece of work ran: a timer due
// every millisecond notes each gap between its turns, so the figure is what a user waits for a
// repaint or a click at the worst moment.
class EventLoopWatch {
  public:
    EventLoopWatch() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }
    template <class Work>
    double longestBlockMs(Work&& work) {
        longest_ = 0;
        clock_.start();
        timer_.start();
        work();
        tick();
        timer_.stop();
        return static_cast<double>(longest_) / 1e6;
    }

  private:
    void tick() {
        longest_ = std::max(longest_, clock_.nsecsElapsed());
        clock_.restart();
    }
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
};

// The million-node catalogue in the real window: load, expand a branch, load a leaf, picture.
// The wizard with a host's services in its real window, shown on step 1 as the user sees the
// tree and the list.
struct WizardWindow {
    ovk::ClientServices base = ovk::baseClientServices();
    ovk::QtUserInterface ui;
    ovk::MemorySettingsStore settings;
    ovk::ManualClock clock;
    NoEvents events;
    ovk::frmWiz wizard{ovk::WizardServices{ui, settings, clock,
                                           ovk::ShellServices{*base.shell, *base.platform, ui}},
                       events};
    std::optional<ovk::WizardView> view;

    // Shows the window once the wizard has its service.
    void show() {
        view.emplace(wizard);
        for (std::size_t i = 0; i < wizard.picStep.size(); ++i)
            wizard.picStep[i].Left = i == 1 ? 8 : -20000;
        view->render();
        view->show();
        QApplication::processEvents();
    }
    void paint() {
        view->render();
        view->repaint();
        QApplication::processEvents();
    }
};

int browseService(const std::string& endpoint, const std::string& screenshot) {
    ovk::ensureApplication();
    WizardWindow window;
    ovk::frmWiz& wizard = window.wizard;
    auto client = std::make_shared<ovk::soap::SoapClient>();
    // As on the desktop: the windows are painted while the service answers.
    client->setWaitHook(&ovk::letWindowsPaintWhileWaiting);
    client->initialize(OVK_DATA_DIR "/VelmoraSvr.wsdl");
    client->setProperty("EndPointURL", endpoint);
    wizard.MySoapobject = client;
    wizard.ActiveProject = "DEMO";
    wizard.ActivePassword = "demo";
    wizard.ActiveLangId = 1033;
    window.settings.write(ovk::kSettingsApplication, "DEMO", "1033", "7;3;12");

    window.show();

    EventLoopWatch watch;
    auto start = Clock::now();
    const double treeBlock = watch.longestBlockMs([&] {
        wizard.LoadTree();
        window.paint();
    });
    std::printf("LoadTree and the window showing it: %d nodes in %.2f s, longest block %.0f ms\n",
                wizard.tvTree.Count(), secondsOf(start), treeBlock);
    // Again, as after Configuration and Next: the tree shown goes first.
    start = Clock::now();
    const double rebuildBlock = watch.longestBlockMs([&] {
        wizard.LoadTree();
        window.paint();
    });
    std::printf("LoadTree once more, replacing it: %d nodes in %.2f s, longest block %.0f ms\n",
                wizard.tvTree.Count(), secondsOf(start), rebuildBlock);

    const std::string branch = "0{}Catalog||7{}Group 4||3{}Maker 7";
    const int maker = wizard.tvTree.find(branch);
    const int group = maker >= 0 ? wizard.tvTree.node(maker).parent : -1;
    if (maker < 0) {
        std::printf("the catalogue has no %s\n", branch.c_str());
        return 1;
    }
    wizard.tvTree.setExpanded(group, true);
    wizard.tvTree.setExpanded(maker, true);
    // A few leaves one after another, as a user browses: the second and later lists also pay for
    // dropping the one before.
    for (const char* type : {"Type 5", "Type 6", "Type 7"}) {
        const int leaf = wizard.tvTree.find(branch + "||12{}" + type);
        if (leaf < 0) {
            std::printf("the catalogue has no %s\n", type);
            return 1;
        }
        wizard.tvTree.SelectedItem(leaf);
        wizard.tvTree_NodeClick(leaf);
        window.view->render();
        QApplication::processEvents();
        start = Clock::now();
        const double listBlock = watch.longestBlockMs([&] {
            window.clock.advance(500);
            window.paint();
        });
        std::printf(
            "a leaf's list in the window: %zu rows x %zu columns in %.2f s, longest block %.0f "
            "ms\n",
            wizard.lvList.rows().size(), wizard.lvList.columns().size(), secondsOf(start),
            listBlock);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory %.0f MB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    if (!screenshot.empty() &&
        !window.view->grab().save(QString::fromStdString(screenshot), "PNG")) {
        std::printf("could not write %s\n", screenshot.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--endpoint") {
        const std::string shot = argc > 4 && std::string(argv[3]) == "--screenshot" ? argv[4] : "";
        return browseService(argv[2], shot);
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ovk::ensureApplication();

    WizardWindow window;
    ovk::frmWiz& wizard = window.wizard;
    const std::string tree = treeReply();
    const std::string selection = selectionReply();
    wizard.MySoapobject = std::make_shared<StoredReplies>(tree);
    wizard.ActiveProject = "BENCH";
    wizard.ActiveLangId = 1033;

    window.show();
    auto paint = [&] { window.paint(); };

    std::printf(
        "tree %d nodes (%zu bytes), list %d rows x %d columns (%zu bytes), %d rounds; baselines: "
        "parsing the same reply into a document, marking the same rows in a plain vector and "
        "hash map; each round's baseline before or after the subject in turn\n",
        1 + kTopLevel * (1 + kSecondLevel * (1 + kLeaves)), tree.size(), kRows, kColumns,
        selection.size(), rounds);
    const auto parseSeconds = [](const std::string& text) {
        const auto start = Clock::now();
        parseReply(text);
        return secondsOf(start);
    };
    const auto nothing = [] {};
    compare(
        "LoadTree with the window", "parse only", "(target <= 5 x)", rounds,
        [&] { wizard.LoadTree(); }, paint, [&] { return parseSeconds(tree); }, nothing);
    compare(
        "FillList with the window", "parse only", "(target <= 5 x)", rounds,
        [&] { wizard.FillList(parseReply(selection)); }, paint,
        [&] { return parseSeconds(selection); }, nothing);
    compare(
        "Mark All with the window", "plain marking", "", rounds,
        [&] { wizard.mnuLvSelectAll_Click(); }, paint,
        [&] { return plainMarking(wizard.lvList.rows()); },
        [&] {
            wizard.mnuLvDeselect_Click();
            paint();
        });

    const bool complete =
        wizard.tvTree.Count() == 1 + kTopLevel * (1 + kSecondLevel * (1 + kLeaves)) &&
        static_cast<int>(wizard.lvList.rows().size()) == kRows && wizard.DownloadItems &&
        wizard.DownloadItems->Count() == kRows;
    if (!complete) std::printf("the wizard did not take in everything\n");
    return complete ? 0 : 1;
}
