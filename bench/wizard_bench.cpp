// SPDX-License-Identifier: MIT
// The wizard's model on large catalogues, through the real reply path: the SOAP client calls a
// running service (ovk-refservice --tree-shape ... --leaf-rows ...) and the wizard builds its
// tree or article list as the client reads the reply, with every bound applied. Each round
// runs every side in a process of its own, the first side one further along each round, so
// that each round's peak memory is its own; the sides are
//   plain transfer: bare libcurl posting the same request and keeping the reply in memory;
//   client's read: the SOAP client reading the same reply and dropping every node;
//   the subject: LoadTree (tree), or a leaf's list, the call and FillList (list).
// In the list's process Mark All runs on its rows against the same rows marked in a plain
// vector of flags and added to a hash map and a vector in order, the two in turn.
//
//   wizard_bench --endpoint URL --subject tree|list [--rounds N]
//
// Printed: every round's figures and ratios, then min / median of the ratios and the largest
// peak. Targets: LoadTree within 2x the plain transfer and 150 MB in every round; the list
// within 2x the client's read.

#include <curl/curl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "component/client_services.hpp"
#include "plain_marking.hpp"
#include "platform/manual_clock.hpp"
#include "platform/scripted_user_interface.hpp"
#include "platform/settings_store.hpp"
#include "soap/envelope.hpp"
#include "soap/service_description.hpp"
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

double peakMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Up to three figures measured in a process of its own, and that process's peak memory last.
using Figures = std::array<double, 4>;
Figures inChild(const std::function<Figures()>& measure) {
    int channel[2];
    if (pipe(channel) != 0) throw std::runtime_error("pipe failed");
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        Figures figures{-1, -1, -1, 0};
        try {
            figures = measure();
        } catch (const Error& e) {
            std::fprintf(stderr, "wizard_bench: %d %s\n", e.number, e.description.c_str());
            figures[0] = -1;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "wizard_bench: %s\n", e.what());
            figures[0] = -1;
        }
        figures[3] = peakMb();
        if (write(channel[1], figures.data(), sizeof figures) != sizeof figures) _exit(1);
        _exit(0);
    }
    close(channel[1]);
    Figures figures{-1, -1, -1, 0};
    const bool got = read(channel[0], figures.data(), sizeof figures) == sizeof figures;
    close(channel[0]);
    waitpid(child, nullptr, 0);
    if (!got || figures[0] < 0) throw std::runtime_error("a measurement failed");
    return figures;
}

std::size_t keep(char* data, std::size_t size, std::size_t count, void* into) {
    static_cast<std::string*>(into)->append(data, size * count);
    return size * count;
}

// The same request posted by bare libcurl, the reply kept in memory: what any client pays
// before it can make anything of the reply.
double plainTransfer(const std::string& endpoint, const char* operation,
                     const std::vector<soap::Argument>& args) {
    const auto description = soap::ServiceDescription::load(OVK_DATA_DIR "/VelmoraSvr.wsdl");
    const auto* op = description.find(operation);
    if (op == nullptr) throw std::runtime_error("no such operation");
    const std::string request = soap::buildRequestEnvelope(*op, args);
    CURL* easy = curl_easy_init();
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: text/xml; charset=utf-8");
    headers = curl_slist_append(headers, ("SOAPAction: \"" + op->soapAction + "\"").c_str());
    headers = curl_slist_append(headers, "Expect:");
    std::string reply;
    curl_easy_setopt(easy, CURLOPT_URL, endpoint.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.c_str());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.size()));
    curl_easy_setopt(easy, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &keep);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &reply);
    const auto start = Clock::now();
    const CURLcode code = curl_easy_perform(easy);
    const double taken = std::chrono::duration<double>(Clock::now() - start).count();
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(easy);
    if (code != CURLE_OK || status != 200 || reply.empty())
        throw std::runtime_error("the plain transfer failed");
    return taken;
}

double markAllFloor(const std::vector<ListView::Row>& rows) {
    return seconds([&] { bench::markPlainly(rows); });
}

struct Spread {
    std::vector<double> ratios;
    void add(double ratio) { ratios.push_back(ratio); }
    double min() const { return *std::min_element(ratios.begin(), ratios.end()); }
    double median() const {
        std::vector<double> sorted = ratios;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
};

void report(const char* what, const Spread& spread, const char* target) {
    std::printf("%-44s min %5.2f median %5.2f %s\n", what, spread.min(), spread.median(), target);
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
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const bool tree = subject == "tree";
    const char* operation = tree ? "getTreeData" : "GetSelectionData";
    const std::vector<soap::Argument> args =
        tree ? std::vector<soap::Argument>{std::string("demo"), std::string("DEMO"), int16_t{1033},
                                           std::string("7,3,12")}
             : std::vector<soap::Argument>{std::string("demo"), std::string("DEMO"), int16_t{1033},
                                           std::string("unused by a shaped service")};
    std::vector<std::function<void()>> sides;
    std::vector<double> transfer, read, built, mark, markFloor;
    double peak = 0, readPeak = 0;
    std::vector<double> peaks;
    std::string shape;
    sides.push_back([&] {
        transfer.push_back(inChild([&] {
            return Figures{plainTransfer(endpoint, operation, args), 0, 0, 0};
        })[0]);
    });
    sides.push_back([&] {
        const Figures f = inChild([&] {
            Wizard w(endpoint);
            Discard discard;
            const double taken =
                seconds([&] { w.wiz.MySoapobject->callStreamed(operation, args, discard); });
            return Figures{taken, static_cast<double>(discard.nodes), 0, 0};
        });
        read.push_back(f[0]);
        readPeak = std::max(readPeak, f[3]);
    });
    sides.push_back([&] {
        const bool floorFirst = built.size() % 2 == 1;
        const Figures f = inChild([&] {
            Wizard w(endpoint);
            if (tree) {
                const double taken = seconds([&] { w.wiz.LoadTree(); });
                return Figures{taken, static_cast<double>(w.wiz.tvTree.Count()), 0, 0};
            }
            // A tree of one leaf, so that the peak is the list's: a shaped service answers
            // every leaf alike.
            const int node = w.wiz.tvTree.Add(-1, "0", "Catalog", "close", "open");
            w.wiz.tvTree.SelectedItem(node);
            w.wiz.tvTree_NodeClick(node);
            // The tick as the user's half second ends: the call and FillList.
            const double list = seconds([&] { w.clock.advance(500); });
            double floor = 0, marked = 0;
            if (floorFirst) floor = markAllFloor(w.wiz.lvList.rows());
            marked = seconds([&] { w.wiz.mnuLvSelectAll_Click(); });
            if (!floorFirst) floor = markAllFloor(w.wiz.lvList.rows());
            const auto rows = w.wiz.lvList.rows().size();
            if (!w.wiz.DownloadItems || w.wiz.DownloadItems->Count() != static_cast<int>(rows))
                throw std::runtime_error("Mark All did not mark every row");
            return Figures{list, marked, floor, 0};
        });
        built.push_back(f[0]);
        if (!tree) {
            mark.push_back(f[1]);
            markFloor.push_back(f[2]);
        } else if (shape.empty()) {
            shape = "tree of " + std::to_string(static_cast<long>(f[1])) + " nodes";
        }
        peak = std::max(peak, f[3]);
        peaks.push_back(f[3]);
    });
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < sides.size(); ++i) sides[(i + round) % sides.size()]();
    }
    std::printf(
        "floors: plain transfer = bare libcurl keeping the reply in memory; client's read = the "
        "SOAP client reading every node of the same reply and keeping none; each side a process "
        "of its own, in turn\n");
    if (tree) std::printf("%s\n", shape.c_str());
    Spread overTransfer, overRead, markRatio;
    for (int r = 0; r < rounds; ++r) {
        overTransfer.add(built[r] / transfer[r]);
        overRead.add(built[r] / read[r]);
        std::printf(
            "round %d: %s %.1f ms (peak %.0f MB), plain transfer %.1f ms, client's read %.1f ms: "
            "%.2fx, %.2fx",
            r + 1, tree ? "LoadTree" : "list", built[r] * 1e3, peaks[r], transfer[r] * 1e3,
            read[r] * 1e3, overTransfer.ratios.back(), overRead.ratios.back());
        if (!tree) {
            markRatio.add(mark[r] / markFloor[r]);
            std::printf("; Mark All %.1f ms, plain marking %.1f ms: %.2fx", mark[r] * 1e3,
                        markFloor[r] * 1e3, markRatio.ratios.back());
        }
        std::printf("\n");
    }
    if (tree) {
        report("LoadTree / plain transfer", overTransfer, "(target <= 2)");
        report("LoadTree / client's read", overRead, "");
        std::printf(
            "peak memory, largest round: LoadTree %.0f MB (target <= 150), client's read "
            "%.0f MB\n",
            peak, readPeak);
        return overTransfer.median() <= 2 && peak <= 150 ? 0 : 1;
    }
    report("leaf's list (call + FillList) / transfer", overTransfer, "");
    report("leaf's list / client's read", overRead, "(target <= 2)");
    report("Mark All / plain marking", markRatio, "");
    std::printf("peak memory, largest round: list and Mark All %.0f MB, client's read %.0f MB\n",
                peak, readPeak);
    return overRead.median() <= 2 ? 0 : 1;
}
