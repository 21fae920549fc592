// The wizard's model on large catalogues, each figure a ratio against only parsing the same
// reply in the same run (the part no client can avoid):
//   LoadTree of a tree reply of about 100,000 nodes (parse + build the tree),
//   FillList of 20,000 rows by 12 columns (parse + fill the list),
//   Mark All on those rows (the check-box handler per row filling the download list).
// Each figure is the best of several rounds. Target: 2x or less.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "component/client_services.hpp"
#include "platform/manual_clock.hpp"
#include "platform/scripted_user_interface.hpp"
#include "platform/settings_store.hpp"
#include "platform/xml/document.hpp"
#include "wizard/frm_wiz.hpp"

namespace {

using namespace ovk;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 5;

// What the SOAP client hands over for a reply: parsed, white space between elements dropped,
// the children of the result element.
xml::NodeList parseReply(const std::string& text) {
    auto doc =
        std::make_shared<xml::Document>(xml::Document::loadMemory(text, xml::Source::ServiceReply));
    doc->root().dropWhitespaceText();
    std::shared_ptr<const xml::Document> owner = doc;
    return xml::NodeList(owner, owner->root().children());
}

// A service whose every reply is one prepared text, parsed on each call as the real client does.
class PreparedService : public soap::ServiceClient {
  public:
    explicit PreparedService(std::string reply) : reply_(std::move(reply)) {}
    void initialize(const std::filesystem::path&) override {}
    void setProperty(std::string_view, const soap::PropertyValue&) override {}
    std::string faultCode() const override { return {}; }
    std::string faultString() const override { return {}; }
    std::string faultActor() const override { return {}; }
    std::string callText(std::string_view, const std::vector<soap::Argument>&) override {
        return {};
    }
    std::optional<xml::NodeList> call(std::string_view,
                                      const std::vector<soap::Argument>&) override {
        return parseReply(reply_);
    }

  private:
    std::string reply_;
};

std::string attributeText(const std::string& text) {
    return text;  // the generated values hold nothing that needs escaping
}

// 10 x 100 x 100 leaves below one root: 101,011 nodes.
std::string treeReply() {
    std::string xml = "<Result><Node ID=\"0\" Value=\"Catalog\">";
    for (int a = 0; a < 10; ++a) {
        xml += "<Node ID=\"7\" Value=\"Group " + std::to_string(a) + "\">";
        for (int b = 0; b < 100; ++b) {
            xml += "<Node ID=\"3\" Value=\"Maker " + std::to_string(b) + "\">";
            for (int c = 0; c < 100; ++c)
                xml += "<Node ID=\"12\" Value=\"" + attributeText("Type " + std::to_string(c)) +
                       "\"/>";
            xml += "</Node>";
        }
        xml += "</Node>";
    }
    return xml + "</Node></Result>";
}

std::string rowsReply(int rows, int columns) {
    std::string xml = "<Result><Rows>";
    for (int r = 0; r < rows; ++r) {
        xml += "<Row>";
        for (int c = 0; c < columns; ++c) {
            xml +=
                "<Cell Pos=\"" + std::to_string(c) + "\" Name=\"Column " + std::to_string(c) +
                "\" Value=\"" +
                (c == 0 ? std::to_string(100000 + r) : "value " + std::to_string(r * columns + c)) +
                "\"/>";
        }
        xml += "</Row>";
    }
    return xml + "</Rows></Result>";
}

double seconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double best(const std::function<double()>& round) {
    double fastest = 1e30;
    for (int i = 0; i < kRounds; ++i) fastest = std::min(fastest, round());
    return fastest;
}

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
        void HandlerFailed(int32_t, const std::string&, const std::string&) override {}
    } events;
    frmWiz wiz{WizardServices{ui, settings, clock, ShellServices{*base.shell, *base.platform, ui}},
               events};
};

void report(const char* what, double subject, double baseline) {
    std::printf("%-42s %9.1f ms   parse only %8.1f ms   ratio %5.2fx\n", what, subject * 1e3,
                baseline * 1e3, subject / baseline);
}

}  // namespace

int main() {
    const std::string tree = treeReply();
    const double parseTree = best([&] { return seconds([&] { parseReply(tree); }); });
    const double loadTree = best([&] {
        Wizard w;
        w.wiz.MySoapobject = std::make_shared<PreparedService>(tree);
        double t = seconds([&] { w.wiz.LoadTree(); });
        if (w.wiz.tvTree.Count() != 101011)
            std::printf("unexpected tree size %d\n", w.wiz.tvTree.Count());
        return t;
    });
    report("LoadTree, 101,011 nodes", loadTree, parseTree);

    const std::string rows = rowsReply(20000, 12);
    const double parseRows = best([&] { return seconds([&] { parseReply(rows); }); });
    const double fillList = best([&] {
        Wizard w;
        return seconds([&] { w.wiz.FillList(parseReply(rows)); });
    });
    report("FillList, 20,000 rows x 12 columns", fillList, parseRows);

    const double markAll = best([&] {
        Wizard w;
        w.wiz.FillList(parseReply(rows));
        const double t = seconds([&] { w.wiz.mnuLvSelectAll_Click(); });
        if (w.wiz.DownloadItems->Count() != 20000) std::printf("unexpected mark count\n");
        return t;
    });
    report("Mark All on those rows", markAll, parseRows);
    return 0;
}
