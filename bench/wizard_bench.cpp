// SPDX-License-Identifier: MIT
// The wizard's model on large catalogues, through the real reply path: the SOAP client calls a
// running service (ovk-refservice --tree-shape ... --leaf-rows ...) and the wizard builds its
// tree or article list as the client reads the reply, with every bound applied. Each figure is
// set against the same call whose reply is read and thrown away (the part no client can avoid)
// in the same run, and the process's peak memory is printed beside it: run one subject per
// process (bench/wizard_catalogue.sh does) so that the peak belongs to it.
//
//   wizard_bench --endpoint URL --subject tree|list [--rounds N]
//
// tree: LoadTree of the service's tree; list: the article list of a leaf (the call and FillList),
// then Mark All on its rows. Targets: LoadTree within 10 s and 1,000 MB; the list within 2x
// reading.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "component/client_services.hpp"
#include "platform/manual_clock.hpp"
#include "platform/scripted_user_interface.hpp"
#include "platform/settings_store.hpp"
#include "soap/soap_client.hpp"
#include "wizard/frm_wiz.hpp"
#include "wizard/list_reply_reader.hpp"

namespace {

using namespace ovk;
using Clock = std::chrono::steady_clock;

// Reads every node and keeps nothing.
struct Discard : xml::ElementEvents {
    std::size_t nodes = 0;
    void startElement(int, std::span<const xml::AttributeView>) override { ++nodes; }
    void endElement(int) override {}
    void otherNode(int) override { ++nodes; }
};

struct Wizard {
    ScriptedUserInterface ui;
    MemorySettingsStore settings;
    ManualClock clock;
    ClientServices base = baseClientServices();
    struct Events : WizardEvents {
        void Finish() override {}
        void Cancel() override {}
        void Help() override {}
        void DownloadItem(const std::string&) override {}
        void DownloadStructure() override {}
        void NewStepNum(int16_t) override {}
        void DebugInfo(const std::string&) override {}
        void HandlerFailed(int32_t number, const std::string& text, const std::string&) override {
            std::printf("refused: %d %s\n", number, text.c_str());
        }
    } events;
    frmWiz wiz{WizardServices{ui, settings, clock, ShellServices{*base.shell, *base.platform, ui}},
               events};

    explicit Wizard(const std::string& endpoint) {
        auto client = std::make_shared<soap::SoapClient>();
        client->initialize(OVK_DATA_DIR "/VelmoraSvr.wsdl");
        client->setProperty("EndPointURL", endpoint);
        wiz.MySoapobject = client;
        wiz.ActiveProject = "DEMO";
        wiz.ActivePassword = "demo";
        wiz.ActiveLangId = 1033;
        settings.write(kSettingsApplication, "DEMO", "1033", "7;3;12");
    }
};

double seconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Figures {
    std::vector<double> runs;
    double min() const { return *std::min_element(runs.begin(), runs.end()); }
    double median() const {
        std::vector<double> sorted = runs;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
};

double peakMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void report(const char* what, const Figures& subject, const Figures& floor) {
    std::printf(
        "%-34s min %8.1f ms  median %8.1f ms | reading only min %8.1f ms  median %8.1f ms"
        " | ratio min %5.2fx median %5.2fx\n",
        what, subject.min() * 1e3, subject.median() * 1e3, floor.min() * 1e3, floor.median() * 1e3,
        subject.min() / floor.min(), subject.median() / floor.median());
}

}  // namespace

int main(int argc, char** argv) {
    std::string endpoint;
    std::string subject;
    int rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--endpoint")
            endpoint = argv[i + 1];
        else if (option == "--subject")
            subject = argv[i + 1];
        else if (option == "--rounds")
            rounds = std::max(1, std::stoi(argv[i + 1]));
    }
    if (endpoint.empty() || (subject != "tree" && subject != "list")) {
        std::fprintf(stderr,
                     "usage: wizard_bench --endpoint URL --subject tree|list [--rounds N]\n");
        return 2;
    }
    Wizard w(endpoint);
    const auto read = [&](const char* operation, std::vector<soap::Argument> args) {
        Discard discard;
        try {
            w.wiz.MySoapobject->callStreamed(operation, args, discard);
        } catch (const Error& e) {
            std::printf("reading only failed: %d %s\n", e.number, e.description.c_str());
        }
        return discard.nodes;
    };
    Figures floor;
    Figures built;
    if (subject == "tree") {
        std::size_t nodes = 0;
        for (int r = 0; r < rounds; ++r) {
            floor.runs.push_back(seconds([&] {
                nodes = read("getTreeData", {std::string("demo"), std::string("DEMO"),
                                             int16_t{1033}, std::string("7,3,12")});
            }));
            built.runs.push_back(seconds([&] { w.wiz.LoadTree(); }));
        }
        std::printf("tree of %d nodes (%zu elements in the reply)\n", w.wiz.tvTree.Count(), nodes);
        report("LoadTree", built, floor);
    } else {
        // A tree of one leaf, so that the peak is the list's: a shaped service answers every
        // leaf alike.
        const int node = w.wiz.tvTree.Add(-1, "0", "Catalog", "close", "open");
        Figures mark;
        for (int r = 0; r < rounds; ++r) {
            w.wiz.tvTree.SelectedItem(node);
            w.wiz.tvTree_NodeClick(node);
            floor.runs.push_back(seconds([&] {
                read("GetSelectionData", {std::string("demo"), std::string("DEMO"), int16_t{1033},
                                          std::string("unused by a shaped service")});
            }));
            // The tick as the user's half second ends: the call and FillList.
            built.runs.push_back(seconds([&] { w.clock.advance(500); }));
            mark.runs.push_back(seconds([&] { w.wiz.mnuLvSelectAll_Click(); }));
        }
        std::printf("list of %zu rows x %zu columns, %d marked\n", w.wiz.lvList.rows().size(),
                    w.wiz.lvList.columns().size(),
                    w.wiz.DownloadItems ? w.wiz.DownloadItems->Count() : 0);
        report("leaf's list (call + FillList)", built, floor);
        report("Mark All on its rows", mark, floor);
    }
    std::printf("peak memory %.0f MB\n", peakMb());
    return 0;
}
