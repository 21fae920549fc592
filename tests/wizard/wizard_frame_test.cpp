// SPDX-License-Identifier: MIT
// The wizard's frame as a user meets it without a service: steps and buttons, the lose
// question, Finish and Cancel on every step, keys, resizing and the two links.

#include <gtest/gtest.h>

#include "wizard_harness.hpp"

namespace ovk {
namespace {

using test::WizardHarness;
using Strings = std::vector<std::string>;

TEST(WizardFrame, EveryStepShowsItsPageAndButtons) {
    struct Case {
        int16_t requested, shown;
        bool backEnabled, nextEnabled, finishEnabled;
        const char* backCaption;
    };
    const Case cases[] = {
        {-3, 0, false, true, false, "&Zurück"},     {0, 0, false, true, false, "&Zurück"},
        {1, 1, true, true, false, "Configuration"}, {2, 2, true, false, true, "&Zurück"},
        {7, 2, true, false, true, "&Zurück"},
    };
    for (const Case& c : cases) {
        WizardHarness h;
        h.wiz.cmdBack.Tag = "&Zurück";
        EXPECT_EQ(h.wiz.SetStep(c.requested), c.shown) << c.requested;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(h.wiz.picStep[static_cast<std::size_t>(i)].Left, i == c.shown ? 8 : -20000);
        EXPECT_TRUE(h.wiz.cmdCancel.Enabled);
        EXPECT_EQ(h.wiz.cmdBack.Enabled, c.backEnabled) << c.requested;
        EXPECT_EQ(h.wiz.cmdNext.Enabled, c.nextEnabled) << c.requested;
        EXPECT_EQ(h.wiz.cmdFinish.Enabled, c.finishEnabled) << c.requested;
        EXPECT_EQ(h.wiz.cmdBack.Caption, c.backCaption) << c.requested;
        EXPECT_EQ(h.events.log, Strings{"NewStepNum " + std::to_string(c.shown)});
    }
}

TEST(WizardFrame, LoadingShowsTheBannerBesideTheDocumentAndOpensOnStepOne) {
    WizardHarness h;
    test::TempDir withBanner, without;
    withBanner.write("Banner1.jpg", "jpeg");
    h.wiz.DownloadFile = (withBanner / "download.xml").string();
    h.wiz.markShown();
    h.wiz.formLoad();
    EXPECT_EQ(h.wiz.Image1Picture, (withBanner / "Banner1.jpg").string());
    EXPECT_EQ(h.events.log, (Strings{"NewStepNum 0", "NewStepNum 1"}));
    EXPECT_EQ(h.ui.pendingEventRuns(), 1);

    // Shown again for a document without a banner: the design picture, not the old one.
    h.wiz.DownloadFile = (without / "download.xml").string();
    h.wiz.formLoad();
    EXPECT_EQ(h.wiz.Image1Picture, "");
}

TEST(WizardFrame, BackWithAnEmptyDownloadListAsksTheLoseQuestion) {
    for (const MsgBoxAnswer answer : {MsgBoxAnswer::Cancel, MsgBoxAnswer::Ok}) {
        WizardHarness h;
        h.wiz.CurrentStep = h.wiz.SetStep(1);
        h.events.log.clear();
        h.wiz.DownloadItems = std::make_unique<DownloadItems>();
        h.ui.queueAnswer(answer);
        h.wiz.cmdBack_Click();
        ASSERT_EQ(h.ui.boxes().size(), 1u);
        const auto& box = h.ui.boxes()[0];
        EXPECT_EQ(box.text, h.wiz.lblLoseMsg.Caption);
        EXPECT_EQ(box.title, "QUORVEL Data Service");
        EXPECT_EQ(box.buttons, MsgBoxButtons::OkCancel);
        EXPECT_EQ(box.icon, MsgBoxIcon::Question);
        EXPECT_EQ(box.defaultButton, MsgBoxDefault::Second);
        if (answer == MsgBoxAnswer::Cancel) {
            EXPECT_EQ(h.wiz.CurrentStep, 1);
            EXPECT_TRUE(h.events.log.empty());
        } else {
            EXPECT_EQ(h.wiz.CurrentStep, 0);
            EXPECT_EQ(h.events.log, Strings{"NewStepNum 0"});
        }
    }
}

// During the loop Cancel reads Stop, and it, Escape or the window's close ask whether to stop;
// OK ends the loop after the article being fetched, with Cancel instead of Finish.
TEST(WizardFrame, FinishSendsWhatTheDownloadListHoldsAndStopsWhenAsked) {
    enum Stop { None, Click, Close };
    struct Case {
        int items;  // -1: no download list at all
        Stop stop = None;
        MsgBoxAnswer answer = MsgBoxAnswer::Ok;  // to the question before the second item
        Strings log;
    };
    const Strings all = {"DownloadStructure", "DownloadItem A1", "DownloadItem A2",
                         "DownloadItem A3", "Finish"};
    const Case cases[] = {
        {-1, None, MsgBoxAnswer::Ok, {"Cancel"}},
        {0, None, MsgBoxAnswer::Ok, {"Finish"}},
        {3, None, MsgBoxAnswer::Ok, all},
        {3, Click, MsgBoxAnswer::Ok, {"DownloadStructure", "DownloadItem A1", "Cancel"}},
        {3, Close, MsgBoxAnswer::Ok, {"DownloadStructure", "DownloadItem A1", "Cancel"}},
        {3, Click, MsgBoxAnswer::Cancel, all},
    };
    for (const Case& c : cases) {
        WizardHarness h;
        h.wiz.markShown();
        h.wiz.CurrentStep = 2;
        h.wiz.LocalizeForm(1031);
        if (c.items >= 0) h.wiz.DownloadItems = std::make_unique<DownloadItems>();
        for (int i = 1; i <= c.items; ++i)
            h.wiz.DownloadItems->Add("A" + std::to_string(i), "ID_A" + std::to_string(i));
        std::vector<double> progress;
        h.ui.onPendingEvents([&] {
            progress.push_back(h.wiz.prgDownload.Value);
            EXPECT_TRUE(h.wiz.prgDownload.Visible);
            EXPECT_EQ(h.wiz.Busy, 1);
            EXPECT_FALSE(h.wiz.cmdBack.Enabled || h.wiz.cmdFinish.Enabled);
            EXPECT_TRUE(h.wiz.cmdCancel.Enabled);
            EXPECT_EQ(h.wiz.cmdCancel.Caption, "&Anhalten");
            if (progress.size() != 2 || c.stop == None) return;
            h.ui.queueAnswer(c.answer);
            if (c.stop == Click) h.wiz.cmdCancel_Click();
            // Refused either way: the loop closes the dialog once it has stopped.
            if (c.stop == Close) {
                EXPECT_FALSE(h.wiz.requestClose());
            }
        });
        h.wiz.cmdFinish_Click();
        EXPECT_EQ(h.events.log, c.log);
        EXPECT_FALSE(h.wiz.isShown());
        EXPECT_FALSE(h.wiz.prgDownload.Visible);
        EXPECT_EQ(h.wiz.Busy, 0);
        EXPECT_EQ(h.wiz.cmdCancel.Caption, "&Abbrechen");
        if (c.items == 3 && c.log == all) {
            EXPECT_EQ(progress, (std::vector<double>{1, 2, 3}));
            EXPECT_EQ(h.wiz.prgDownload.Max, 3);
        }
        if (c.stop != None) {
            ASSERT_EQ(h.ui.boxes().size(), 1u);
            const auto& box = h.ui.boxes()[0];
            EXPECT_EQ(box.text,
                      "Den Download anhalten? Die 1 bisher gespeicherten Artikel bleiben "
                      "erhalten, und Sie k\u00f6nnen den Download sp\u00e4ter fortsetzen.");
            EXPECT_EQ(box.buttons, MsgBoxButtons::OkCancel);
            EXPECT_EQ(box.defaultButton, MsgBoxDefault::Second);
        }
        // A stop not acted on does not carry over to the next Finish.
        EXPECT_FALSE(h.wiz.StopRequest->requested());
    }
}

TEST(WizardFrame, CancelReturnsToTheTreeFromStepZeroAndClosesOtherwise) {
    for (int16_t step : {0, 1, 2}) {
        WizardHarness h;
        auto service = h.fake();
        h.wiz.markShown();
        h.wiz.CurrentStep = step;
        h.wiz.cmdCancel_Click();
        if (step == 0) {
            EXPECT_EQ(h.events.log, Strings{"NewStepNum 1"});
            EXPECT_TRUE(h.wiz.isShown());
            EXPECT_TRUE(service->calls.empty()) << "the tree is not rebuilt";
        } else {
            EXPECT_EQ(h.events.log, Strings{"Cancel"}) << step;
            EXPECT_FALSE(h.wiz.isShown());
        }
    }
}

TEST(WizardFrame, KeysResizeAndLinks) {
    WizardHarness h;
    h.wiz.markShown();
    h.wiz.Form_KeyUp(112);
    h.wiz.Form_KeyUp(113);
    EXPECT_EQ(h.events.log, Strings{"Help"});

    h.wiz.Me.Top = 900;
    h.wiz.Form_Resize(12001);
    EXPECT_EQ(h.wiz.Me.Top, 900);
    h.wiz.Image1.Left = 500;
    h.wiz.Form_Resize(12000);
    EXPECT_EQ(h.wiz.Me.Top, 0);
    EXPECT_EQ(h.wiz.Image1.Left, 16);
    EXPECT_EQ(h.wiz.Image1.Top, 8);

    h.wiz.BannerURL = "  https://banner.example/  ";
    h.wiz.MailURL = "   ";
    h.wiz.Image1_Click();
    h.wiz.lblMailToQuorvel_Click();  // blank: nothing opens
    h.wiz.MailURL = " mailto:x@example ";
    h.wiz.lblMailToQuorvel_Click();
    ASSERT_EQ(h.shell.calls().size(), 2u);
    EXPECT_EQ(h.shell.calls()[0].target, "https://banner.example/");
    EXPECT_EQ(h.shell.calls()[1].target, " mailto:x@example ");
    EXPECT_EQ(h.shell.calls()[0].showCommand, 0);

    // Closing through the window frame sends nothing.
    EXPECT_TRUE(h.wiz.requestClose());
    EXPECT_EQ(h.events.log, Strings{"Help"});
}

TEST(WizardFrame, TheCountLineFillsEveryPlaceholder) {
    const std::pair<const char*, const char*> cases[] = {
        {"@#@ of @#@ marked", "2 of 2 marked"}, {"no placeholder", "no placeholder"}, {"", ""}};
    for (const auto& [templ, shown] : cases) {
        WizardHarness h;
        h.wiz.CurrentStep = 1;
        h.wiz.CountTemplate = templ;
        h.wiz.DownloadItems = std::make_unique<DownloadItems>();
        h.wiz.DownloadItems->Add("1", "ID_1");
        h.wiz.DownloadItems->Add("2", "ID_2");
        h.wiz.cmdNext_Click();
        EXPECT_EQ(h.wiz.lblDownloadCount.Caption, shown);
        EXPECT_EQ(h.wiz.CurrentStep, 2);
    }
    WizardHarness h;
    h.wiz.CurrentStep = 1;
    h.wiz.cmdNext_Click();
    EXPECT_FALSE(h.wiz.lblDownloadCount.Visible || h.wiz.lblDownloadDescription.Visible);
    EXPECT_TRUE(h.wiz.lblDownloadCount0.Visible && h.wiz.lblDownloadDescription0.Visible);
}

TEST(WizardFrame, CaptionsComeFromTheLanguageBlockWithEnglishAsFallback) {
    struct Case {
        int16_t language;
        const char* next;
        const char* back;
        const char* menu;
    };
    for (const Case& c : {Case{1031, "&Weiter", "&Zurück", "&Markierung aufheben"},
                          Case{1036, "&Next", "&Back", "&Reset Marking"}}) {
        WizardHarness h;
        h.wiz.LocalizeForm(c.language);
        EXPECT_EQ(h.wiz.cmdNext.Caption, c.next);
        EXPECT_EQ(h.wiz.cmdBack.Caption, c.back);
        EXPECT_EQ(h.wiz.cmdBack.Tag, c.back);
        EXPECT_EQ(h.wiz.mnuLvDeselect.Caption, c.menu);
        EXPECT_NE(h.wiz.CountTemplate.find("@#@"), std::string::npos);
        EXPECT_EQ(h.wiz.lblDownloadCount.Caption, h.wiz.CountTemplate);
    }
    // Without the resource file the design captions stay and the kept texts are empty.
    WizardHarness h;
    h.component.remove("ovk_client.xml");
    h.wiz.LocalizeForm(1031);
    EXPECT_EQ(h.wiz.cmdNext.Caption, "&Next");
    EXPECT_EQ(h.wiz.cmdBack.Tag, "");
    EXPECT_EQ(h.wiz.CountTemplate, "");
    h.wiz.SetStep(2);
    EXPECT_EQ(h.wiz.cmdBack.Caption, "");
}

}  // namespace
}  // namespace ovk
