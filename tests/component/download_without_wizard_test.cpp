// SPDX-License-Identifier: MIT
// A host that picks and downloads articles itself, without the wizard, against the reference
// service: what it reads, what it gets told, and that its download is the wizard's.

#include <gtest/gtest.h>

#include <map>

#include "client_harness.hpp"
#include "component_folder.hpp"
#include "platform/settings_names.hpp"
#include "ref_service.hpp"
#include "wizard/frm_wiz.hpp"

namespace ovk {
namespace {

using test::ClientHarness;
using test::downloadDocument;
using test::RefService;
using test::TempDir;
using Strings = std::vector<std::string>;

const std::string kRoot = "0{}Catalog";
const std::string kMotors = kRoot + "||7{}Motors";
const std::string kMotorsVelmoraAc = kMotors + "||3{}Velmora||12{}AC";
const std::string kMotorsVelmoraDc = kMotors + "||3{}Velmora||12{}DC";

// The host's events, progress included; `onProgress` is a host's handler that calls back.
struct Events : test::RecordingEvents, DownloadProgressEvents {
    std::function<void()> onProgress;
    void DownloadProgress(int32_t Done, int32_t Total) override {
        log.push_back("DownloadProgress " + std::to_string(Done) + "/" + std::to_string(Total));
        if (onProgress) onProgress();
    }
};

// One host with its own folder for the download document and the files beside it.
struct Host {
    TempDir folder;
    ClientHarness h{true};
    Events events;

    explicit Host(const RefService& service, bool unattended = true) {
        h.client->setEvents(&events);
        h.client->Unattended(unattended);
        folder.write("download.xml",
                     downloadDocument("TARVO", "<URL>" + service.url() +
                                                   "</URL><ProjectID>DEMO</ProjectID>"
                                                   "<Language>English</Language>"
                                                   "<Password>demo</Password>"));
    }
    int32_t init() { return h.client->Init((folder / "download.xml").string()); }
    std::map<std::string, std::string> files() const {
        std::map<std::string, std::string> all;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
            all[entry.path().filename().string()] = test::readAll(entry.path());
        return all;
    }
};

Strings idsOf(const ArticleList& list) {
    Strings ids;
    for (const Article& article : list.Articles) ids.push_back(article.Id);
    return ids;
}

TEST(DownloadWithoutWizard, WritesTheFilesAndRaisesTheEventsOfTheWizardsFinish) {
    test::ComponentFolder component;
    RefService service;

    // A user in the wizard: two leaves, every article marked, Finish.
    Host user(service, false);
    user.h.ui->queueAction([&](Form& form) {
        auto& wiz = dynamic_cast<frmWiz&>(form);
        for (const std::string& key : {kMotorsVelmoraDc, kMotorsVelmoraAc}) {
            const int leaf = wiz.tvTree.find(key);
            wiz.tvTree.SelectedItem(leaf);
            wiz.tvTree_NodeClick(leaf);
            user.h.clock->advance(500);
            wiz.mnuLvSelectAll_Click();
        }
        wiz.cmdNext_Click();
        wiz.cmdFinish_Click();
    });
    ASSERT_EQ(user.init(), 0);
    user.h.client->Show();

    // A host without a user: it walks the tree to the same leaves and downloads their articles.
    Host host(service);
    ASSERT_EQ(host.init(), 0);
    Client& client = *host.h.client;
    const std::vector<TreeNode> top = client.TreeNodes();
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0].Key, kRoot);
    const std::vector<TreeNode> groups = client.TreeNodes(kRoot);
    const auto motors =
        std::ranges::find_if(groups, [](const TreeNode& node) { return node.Key == kMotors; });
    ASSERT_NE(motors, groups.end());
    EXPECT_EQ(motors->Text, "Motors");
    EXPECT_GT(motors->ChildCount, 0);
    Strings ids;
    for (const std::string& key : {kMotorsVelmoraDc, kMotorsVelmoraAc}) {
        const ArticleList list = client.LeafArticles(key);
        ASSERT_FALSE(list.Articles.empty()) << key;
        ASSERT_EQ(list.Articles[0].Values.size() + 1, list.Columns.size());
        for (const std::string& id : idsOf(list)) ids.push_back(id);
    }
    client.Download(ids);

    EXPECT_EQ(host.events.log, user.events.log);
    EXPECT_EQ(host.events.log.back(), "DownloadComplete");
    EXPECT_EQ(host.events.log.end()[-2],
              "DownloadProgress " + std::to_string(ids.size()) + "/" + std::to_string(ids.size()));
    EXPECT_TRUE(host.events.boxes.empty());
    const auto written = host.files();
    EXPECT_EQ(written, user.files());
    EXPECT_GT(written.size(), 4u);  // the document, the record files, the banner, documents

    // Downloading again replaces the articles, as a second Finish does.
    client.Download({ids[0]});
    EXPECT_EQ(host.events.log.back(), "DownloadComplete");
}

TEST(DownloadWithoutWizard, ChosenFieldsBuildTheTreeAndAreStoredAsTheWizardStoresThem) {
    test::ComponentFolder component;
    RefService service;
    Host host(service);
    ASSERT_EQ(host.init(), 0);
    Client& client = *host.h.client;
    const FieldChoice fields = client.Fields();
    Strings selected;
    for (const Field& field : fields.Selected) selected.push_back(field.Name);
    EXPECT_EQ(selected, (Strings{"Product group", "Manufacturer", "Current type"}));
    ASSERT_FALSE(fields.Available.empty());

    client.SelectFields({3});
    EXPECT_EQ(host.h.settings->readText(kSettingsApplication, "DEMO", "1033"), "3");
    const std::vector<TreeNode> makers = client.TreeNodes(kRoot);
    ASSERT_FALSE(makers.empty());
    EXPECT_EQ(makers[0].Key.rfind(kRoot + "||3{}", 0), 0u) << makers[0].Key;
    EXPECT_EQ(makers[0].ChildCount, 0);
    EXPECT_FALSE(client.LeafArticles(makers[0].Key).Articles.empty());

    // A download with its own fields chooses them first.
    host.events.log.clear();
    client.Download({"4711"}, {7, 3});
    EXPECT_EQ(host.h.settings->readText(kSettingsApplication, "DEMO", "1033"), "7;3");
    EXPECT_EQ(host.events.log.back(), "DownloadComplete");
}

TEST(DownloadWithoutWizard, RefusesWhatItCannotDoWithAnErrorAndOneException) {
    test::ComponentFolder component;
    RefService service;
    Host host(service);
    Client& client = *host.h.client;
    struct Case {
        const char* source;
        std::function<void()> call;
        int32_t number;
        const char* text;
    };
    const Case beforeInit[] = {
        {"Fields", [&] { client.Fields(); }, 91, "This call needs a successful Init"},
        {"Download", [&] { client.Download({"4711"}); }, 91, "This call needs a successful Init"},
        {"ContinueDownload", [&] { client.ContinueDownload(); }, 91,
         "This call needs a successful Init"},
    };
    const Case afterInit[] = {
        {"TreeNodes", [&] { client.TreeNodes("0{}Nowhere"); }, 9,
         "The tree has no node with the key \"0{}Nowhere\"."},
        {"LeafArticles", [&] { client.LeafArticles(kMotors); }, 5, "is no leaf"},
        {"SelectFields", [&] { client.SelectFields({}); }, 5, "at least one field"},
        {"SelectFields",
         [&] {
             client.SelectFields({3, 999});
         },
         5, "The project has no field 999."},
        {"SelectFields",
         [&] {
             client.SelectFields({3, 3});
         },
         5, "The field 3 is chosen twice."},
        {"Download",
         [&] {
             client.Download({"4711", "4712", "4711"});
         },
         5, "The article 4711 is given twice."},
    };
    const auto expectRefusal = [&](const Case& c) {
        host.events.exceptions.clear();
        try {
            c.call();
            ADD_FAILURE() << c.source << " did not throw";
        } catch (const Error& e) {
            EXPECT_EQ(e.number, c.number) << c.source;
            EXPECT_NE(e.description.find(c.text), std::string::npos) << e.description;
            ASSERT_EQ(host.events.exceptions.size(), 1u) << c.source;
            EXPECT_EQ(host.events.exceptions[0].source, c.source);
            EXPECT_EQ(host.events.exceptions[0].message, e.description);
        }
    };
    for (const Case& c : beforeInit) expectRefusal(c);
    ASSERT_EQ(host.init(), 0);
    for (const Case& c : afterInit) expectRefusal(c);
    EXPECT_FALSE(std::filesystem::exists(host.folder / "sym.txt"));

    // A member called from a host's handler while a download runs is refused, not nested.
    int refusals = 0;
    host.events.onProgress = [&] {
        if (refusals > 0) return;
        const std::size_t before = host.events.exceptions.size();
        try {
            client.ContinueDownload();
        } catch (const Error& e) {
            ++refusals;
            EXPECT_EQ(e.number, 5);
            EXPECT_NE(e.description.find("The client is busy"), std::string::npos);
            ASSERT_EQ(host.events.exceptions.size(), before + 1);
            EXPECT_EQ(host.events.exceptions.back().source, "ContinueDownload");
        }
    };
    host.events.exceptions.clear();
    client.Download({"4711"});
    EXPECT_EQ(refusals, 1);
    host.events.onProgress = nullptr;
    EXPECT_EQ(host.events.log.back(), "DownloadComplete");

    // The host's language is the texts' language.
    client.GUILangID(1031);
    try {
        client.TreeNodes("x");
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_EQ(e.description, "Der Baum hat keinen Knoten mit dem Schlüssel \"x\".");
    }
}

TEST(DownloadWithoutWizard, AFailedDownloadKeepsWhatWasSavedAndFreesTheDocument) {
    test::ComponentFolder component;
    RefService service({"--fault", "GetItemData=http500@4712"});
    Host host(service);
    host.h.failFast();
    ASSERT_EQ(host.init(), 0);
    try {
        host.h.client->Download({"4711", "4712", "4713"});
        ADD_FAILURE() << "the download did not fail";
    } catch (const Error& e) {
        EXPECT_NE(e.description.find("500"), std::string::npos) << e.description;
    }
    // The wizard's failure box went to the host, as did the failure and the first article.
    ASSERT_EQ(host.events.boxes.size(), 1u);
    EXPECT_NE(std::ranges::find(host.events.log, "DownloadProgress 1/3"), host.events.log.end());
    EXPECT_EQ(std::ranges::count(host.events.log, "DownloadComplete"), 0);
    const std::string document = test::readAll(host.folder / "download.xml");
    EXPECT_NE(document.find("4711"), std::string::npos);

    // Another client may take the document at once.
    ClientHarness next(true);
    EXPECT_EQ(next.client->Init((host.folder / "download.xml").string()), 0)
        << ::testing::PrintToString(next.events.log);
}

}  // namespace
}  // namespace ovk
