// SPDX-License-Identifier: MIT
// The wizard against the reference service over real SOAP, with the service's replies plain
// and indented: a user opening the dialog, walking the tree, marking articles and finishing.

#include <gtest/gtest.h>

#include "ref_service.hpp"
#include "wizard_harness.hpp"

namespace ovk {
namespace {

using test::RefService;
using test::WizardHarness;
using Strings = std::vector<std::string>;

const std::string kRoot = "0{}Catalog";
const std::string kMotorsVelmoraAc = kRoot + "||7{}Motors||3{}Velmora||12{}AC";
const std::string kMotorsVelmoraDc = kRoot + "||7{}Motors||3{}Velmora||12{}DC";
const std::string kDrivesVelmoraAc = kRoot + "||7{}Drives||3{}Velmora||12{}AC";

// Plain or indented replies; everything the user sees must be the same.
class WizardWithService : public test::PlainAndIndentedServiceTest {
  protected:
    std::vector<std::string> serviceArgs() const {
        return indented() ? std::vector<std::string>{"--indent"} : std::vector<std::string>{};
    }

    WizardHarness h;
    void SetUp() override { h.connectTo(service().url()); }
};

TEST_P(WizardWithService, OpensOnTheTreeWithTheDefaultChoiceStored) {
    h.wiz.markShown();
    h.wiz.formLoad();
    EXPECT_EQ(h.events.log, (Strings{"NewStepNum 0", "NewStepNum 1"}));
    EXPECT_EQ(h.wiz.CurrentStep, 1);
    EXPECT_EQ(h.stored(), "7;3;12");
    EXPECT_EQ(h.texts(h.wiz.lstSelected),
              (Strings{"Product group", "Manufacturer", "Current type"}));
    EXPECT_EQ(h.texts(h.wiz.lstAll), (Strings{"Name", "Rated power", "Price class"}));
    EXPECT_TRUE(h.ui.boxes().empty());
    EXPECT_EQ(h.ui.pendingEventRuns(), 1);
    EXPECT_EQ(h.ui.mousePointer(), MousePointer::Default);

    ASSERT_GT(h.wiz.tvTree.Count(), 1);
    const auto& root = h.wiz.tvTree.node(0);
    EXPECT_EQ(h.wiz.tvTree.Key(0), kRoot);
    EXPECT_TRUE(root.Expanded);
    EXPECT_EQ(h.wiz.tvTree.imageKey(root.image), "close");
    EXPECT_EQ(h.wiz.tvTree.imageKey(root.selectedImage), "open");
    const int leaf = h.wiz.tvTree.find(kMotorsVelmoraAc);
    ASSERT_GE(leaf, 0);
    EXPECT_EQ(h.wiz.tvTree.node(leaf).Text(), "AC");
    EXPECT_FALSE(h.wiz.tvTree.node(h.wiz.tvTree.node(leaf).parent).Expanded);
}

TEST_P(WizardWithService, ALeafLoadsItsArticlesOnceAfterHalfASecond) {
    h.open();
    // Leaf A, then leaf B before the half second is over: only B is asked for.
    h.chooseLeaf(kMotorsVelmoraDc, 300);
    EXPECT_TRUE(h.events.log.empty());
    h.chooseLeaf(kMotorsVelmoraAc, 499);
    EXPECT_TRUE(h.events.log.empty());
    h.clock.advance(1);
    EXPECT_EQ(h.events.log, (Strings{"DebugInfo " + kMotorsVelmoraAc}));
    EXPECT_EQ(h.rowTexts(), (Strings{"4711", "4712"}));
    EXPECT_EQ(h.headers(), (Strings{"Number", "Manufacturer", "Product group", "Current type",
                                    "Name", "Rated power", "Price class"}));
    EXPECT_EQ(h.wiz.lvList.rows()[0].Key, "NO_4711");
    EXPECT_EQ(h.wiz.lvList.rows()[0].SubItems.at(3), "AC motor VM-400");
    EXPECT_EQ(h.wiz.PendingKey, kMotorsVelmoraAc);
    EXPECT_FALSE(h.wiz.timTree().isActive());
    EXPECT_TRUE(h.wiz.tvTree.Enabled && h.wiz.cmdNext.Enabled && h.wiz.cmdBack.Enabled);
    EXPECT_EQ(h.ui.mousePointer(), MousePointer::Default);

    // A node with children starts nothing.
    h.events.log.clear();
    h.chooseLeaf(kRoot + "||7{}Motors", 2000);
    EXPECT_TRUE(h.events.log.empty());
}

TEST_P(WizardWithService, MarksSurviveAChangeOfLeafAndFinishRequestsThemInOrder) {
    h.open();
    h.chooseLeaf(kMotorsVelmoraAc);
    h.wiz.mnuLvSelectAll_Click();
    h.chooseLeaf(kDrivesVelmoraAc);
    h.check(0);
    h.chooseLeaf(kMotorsVelmoraAc);
    EXPECT_TRUE(h.wiz.lvList.rows()[0].Checked && h.wiz.lvList.rows()[1].Checked);
    EXPECT_EQ(h.marked(), (Strings{"4711", "4712", "4720"}));

    // Reset Marking clears only the rows shown.
    h.wiz.mnuLvDeselect_Click();
    EXPECT_EQ(h.marked(), (Strings{"4720"}));
    h.wiz.mnuLvSelectAll_Click();

    h.events.log.clear();
    h.wiz.cmdNext_Click();
    EXPECT_EQ(h.wiz.lblDownloadCount.Caption, "You have selected 3 objects for download.");
    EXPECT_TRUE(h.wiz.lblDownloadCount.Visible);
    EXPECT_FALSE(h.wiz.lblDownloadCount0.Visible);
    // A leaf clicked just before Finish: its half second ends during the download.
    const int leaf = h.wiz.tvTree.find(kMotorsVelmoraDc);
    h.wiz.tvTree.SelectedItem(leaf);
    h.wiz.tvTree_NodeClick(leaf);
    h.ui.onPendingEvents([&] {
        h.clock.advance(500);
        EXPECT_FALSE(h.wiz.cmdBack.Enabled || h.wiz.cmdFinish.Enabled);
        EXPECT_EQ(h.wiz.cmdCancel.Caption, "&Stop");
    });
    h.wiz.cmdFinish_Click();
    EXPECT_EQ(h.events.log, (Strings{"NewStepNum 2", "DownloadStructure", "DownloadItem 4720",
                                     "DownloadItem 4711", "DownloadItem 4712", "Finish"}));
    EXPECT_FALSE(h.wiz.isShown());
    EXPECT_FALSE(h.wiz.prgDownload.Visible);
    EXPECT_EQ(h.wiz.prgDownload.Value, 3);
    EXPECT_EQ(h.wiz.Busy, 0);
}

TEST_P(WizardWithService, TheStoredChoiceIsRestoredSkippingUnknownFields) {
    h.settings.write(kSettingsApplication, "DEMO", "1033", "12;99;3");
    h.open();
    EXPECT_EQ(h.texts(h.wiz.lstSelected), (Strings{"Current type", "Manufacturer"}));
    ASSERT_GE(h.wiz.tvTree.find(kRoot + "||12{}AC||3{}Velmora"), 0);

    // A new choice made on step 0 is stored and builds the tree in its order.
    h.wiz.cmdBack_Click();
    ASSERT_EQ(h.wiz.CurrentStep, 0);
    h.wiz.cmdLeftAll_Click();
    h.wiz.lstAll.ListIndex(static_cast<int>(h.texts(h.wiz.lstAll).size()) - 1);  // Manufacturer
    h.wiz.lstAll_DblClick();
    h.wiz.cmdNext_Click();
    EXPECT_EQ(h.stored(), "3");
    EXPECT_GE(h.wiz.tvTree.find(kRoot + "||3{}Velmora"), 0);
}

TEST_P(WizardWithService, AProjectWithoutDefaultChoiceStoresNothingAndShowsTheRootOnly) {
    h.wiz.ActiveProject = "NODEFAULT";
    h.wiz.ActivePassword = "nodefault";
    h.open();
    EXPECT_TRUE(h.wiz.lstSelected.entries().empty());
    EXPECT_EQ(h.settings.readText(kSettingsApplication, "NODEFAULT", "1033"), "");
    EXPECT_EQ(h.wiz.CurrentStep, 1);
    EXPECT_TRUE(h.ui.boxes().empty());
}

TEST_P(WizardWithService, AFailingArticleLoadIsReportedAndLeavesTheTreeUsable) {
    RefService failing([&] {
        auto args = serviceArgs();
        args.insert(args.end(), {"--fault", "GetSelectionData=soapfault"});
        return args;
    }());
    h.connectTo(failing.url());
    h.open();
    h.chooseLeaf(kMotorsVelmoraAc);
    ASSERT_EQ(h.ui.boxes().size(), 1u);
    EXPECT_NE(h.ui.boxes()[0].text.find("Injected fault in GetSelectionData"), std::string::npos)
        << h.ui.boxes()[0].text;
    EXPECT_EQ(h.ui.boxes()[0].icon, MsgBoxIcon::Critical);
    ASSERT_EQ(h.events.log.size(), 2u);
    EXPECT_EQ(h.events.log[0], "DebugInfo " + kMotorsVelmoraAc);
    EXPECT_EQ(h.events.log[1].rfind("HandlerFailed 5005 ", 0), 0u) << h.events.log[1];
    EXPECT_TRUE(h.wiz.tvTree.Enabled && h.wiz.cmdNext.Enabled && h.wiz.cmdBack.Enabled);
    EXPECT_FALSE(h.wiz.timTree().isActive());
    EXPECT_EQ(h.ui.mousePointer(), MousePointer::Default);
    EXPECT_TRUE(h.wiz.isShown());
}

// A manufacturer's catalogue in small: the tree and a leaf's long list come from replies read as
// they arrive; a tree nested past the bound is refused, and the user and the host hear why.
TEST_P(WizardWithService, LargeCataloguesLoadAndATreeOverABoundIsTold) {
    const auto serve = [&](std::vector<std::string> extra) {
        auto args = serviceArgs();
        args.insert(args.end(), extra.begin(), extra.end());
        return std::make_unique<RefService>(std::move(args));
    };
    auto shaped = serve({"--tree-shape", "3x4x250", "--leaf-rows", "300"});
    h.connectTo(shaped->url());
    h.open();
    ASSERT_EQ(h.wiz.tvTree.Count(), 1 + 3 + 12 + 3000);
    const std::string leaf = kRoot + "||7{}Group 2||3{}Maker 3||12{}Type 249";
    ASSERT_GE(h.wiz.tvTree.find(leaf), 0);
    h.chooseLeaf(leaf);
    EXPECT_EQ(h.wiz.lvList.rows().size(), 300u);
    EXPECT_EQ(h.wiz.lvList.columns().size(), 12u);
    EXPECT_EQ(h.wiz.lvList.rows().back().SubItems.back(), "value 3599");
    EXPECT_TRUE(h.ui.boxes().empty());

    std::string deep = "1";
    for (int level = 1; level < 300; ++level) deep += "x1";
    auto nested = serve({"--tree-shape", deep});
    h.connectTo(nested->url());
    h.wiz.cmdBack_Click();
    h.events.log.clear();
    // Next loads the tree, is refused, falls back to the default choice and is refused alike:
    // the user and the host hear it once.
    h.wiz.cmdNext_Click();
    EXPECT_EQ(h.wiz.tvTree.Count(), 0);
    ASSERT_EQ(h.ui.boxes().size(), 1u);
    EXPECT_EQ(h.ui.boxes()[0].text,
              "The structure tree is too large to show: it is nested deeper than 256 levels");
    EXPECT_EQ(h.ui.boxes()[0].icon, MsgBoxIcon::Critical);
    EXPECT_EQ(h.events.log,
              (Strings{"HandlerFailed 5007 " + h.ui.boxes()[0].text, "NewStepNum 1"}));
}

TEST_P(WizardWithService, AFailingDownloadRequestStopsFinishAndTheDialogStaysUsable) {
    h.open();
    h.chooseLeaf(kMotorsVelmoraAc);
    h.wiz.mnuLvSelectAll_Click();
    h.wiz.cmdNext_Click();
    h.events.log.clear();
    h.events.onRequest = [](const std::string& request) {
        if (request == "DownloadItem 4711") throw Error(err::SoapTimeout, "The service timed out");
    };
    h.wiz.cmdFinish_Click();
    EXPECT_EQ(h.events.log, (Strings{"DownloadStructure", "DownloadItem 4711",
                                     "HandlerFailed 5003 The service timed out"}));
    ASSERT_EQ(h.ui.boxes().size(), 1u);
    EXPECT_EQ(h.ui.boxes()[0].text, "The service timed out");
    EXPECT_EQ(h.wiz.Busy, 0);
    EXPECT_TRUE(h.wiz.isShown());
    EXPECT_TRUE(h.wiz.cmdFinish.Enabled && h.wiz.cmdBack.Enabled && h.wiz.cmdCancel.Enabled);
    EXPECT_FALSE(h.wiz.prgDownload.Visible);

    // The user retries once the service is back.
    h.events.onRequest = nullptr;
    h.events.log.clear();
    h.wiz.cmdFinish_Click();
    EXPECT_EQ(h.events.log,
              (Strings{"DownloadStructure", "DownloadItem 4711", "DownloadItem 4712", "Finish"}));
    EXPECT_FALSE(h.wiz.isShown());
}

INSTANTIATE_TEST_SUITE_P(Replies, WizardWithService, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Indented" : "Plain"; });

}  // namespace
}  // namespace ovk
