// SPDX-License-Identifier: MIT
// The wizard's frame: loading, the step model, the four navigation buttons with the download
// loop behind Finish, the F1 key, the resize rule and the two links.

#include <cmath>
#include <filesystem>
#include <string>

#include "document/client_resources.hpp"
#include "document/component_texts.hpp"
#include "platform/errors.hpp"
#include "platform/numbers.hpp"
#include "wizard/frm_wiz.hpp"

namespace ovk {
namespace {

constexpr const char* kWizardTitle = "QUORVEL Data Service";
constexpr int kKeyF1 = 112;
constexpr int kPageShown = 8;
constexpr int kPageHidden = -20000;
constexpr int kSmallScreenTwips = 12000;

std::string replaceAll(std::string text, std::string_view placeholder,
                       const std::string& replacement) {
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + replacement.size())) {
        text.replace(at, placeholder.size(), replacement);
    }
    return text;
}

// Blanks only, as the texts coming from the service's client data are padded with blanks.
std::string trimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

void frmWiz::formLoad() {
    // A dialog shown again is a new session: nothing the user marked, sized or was about to
    // open in the one before may carry over, nor may it ask to lose those marks.
    timTree_->stop();
    PendingKey.clear();
    DownloadItems.reset();
    ColumnWidths.reset();
    CurrentStep = 0;
    std::error_code ec;
    const auto banner = std::filesystem::path(DownloadFile).parent_path() / kBannerFileName;
    // A dialog shown again must not keep the banner of an earlier document.
    Image1Picture = !DownloadFile.empty() && std::filesystem::is_regular_file(banner, ec)
                        ? banner.string()
                        : std::string();
    LocalizeForm(GUILangID);
    continuing_ = std::move(ContinueRun);
    ContinueRun.reset();
    if (continuing_) {
        // Nothing to choose: the dialog shows the download's progress, which starts as soon as
        // the window is on screen.
        CurrentStep = SetStep(2);
        lblDownloadCount.Caption =
            replaceAll(CountTemplate, "@#@", std::to_string(continuing_->ids.size()));
        lblDownloadCount.Visible = true;
        lblDownloadDescription.Visible = false;
        lblDownloadCount0.Visible = false;
        lblDownloadDescription0.Visible = false;
        services_.ui.processPendingEvents();
        return;
    }
    CurrentStep = SetStep(0);
    LoadFieldLists();
    cmdNext_Click();
    services_.ui.processPendingEvents();
}

void frmWiz::formActivate() {
    if (!continuing_) return;
    const DownloadRun run = *std::move(continuing_);
    continuing_.reset();
    runDownload(run);
}

bool frmWiz::formQueryUnload() {
    // Closing the window while Finish downloads means stopping the download; the loop closes
    // the dialog once the article being fetched is saved.
    if (Busy == 0) return true;
    askStop();
    return false;
}

int16_t frmWiz::SetStep(int16_t Step) {
    const int16_t step = Step > 2 ? int16_t{2} : (Step < 0 ? int16_t{0} : Step);
    if (DownloadItems && step == 0) {
        const MsgBoxAnswer answer =
            services_.ui.msgBox(lblLoseMsg.Caption, kWizardTitle, MsgBoxButtons::OkCancel,
                                MsgBoxIcon::Question, MsgBoxDefault::Second);
        if (answer == MsgBoxAnswer::Cancel) {
            LoadFieldLists();
            return CurrentStep;
        }
    }
    for (int i = 0; i < 3; ++i)
        picStep[static_cast<std::size_t>(i)].Left = i == step ? kPageShown : kPageHidden;

    switch (step) {
        case 0:
            LoadFieldLists();
            cmdCancel.Enabled = true;
            cmdBack.Caption = cmdBack.Tag;
            cmdBack.Enabled = false;
            cmdNext.Enabled = true;
            cmdFinish.Enabled = false;
            break;
        case 1:
            cmdCancel.Enabled = true;
            cmdBack.Caption = lblConfig.Caption;
            cmdBack.Enabled = true;
            cmdNext.Enabled = true;
            cmdFinish.Enabled = false;
            break;
        default:
            cmdCancel.Enabled = true;
            cmdBack.Caption = cmdBack.Tag;
            cmdBack.Enabled = true;
            cmdNext.Enabled = false;
            cmdFinish.Enabled = true;
            break;
    }
    events_.NewStepNum(step);
    return step;
}

void frmWiz::cmdBack_Click() {
    CurrentStep = SetStep(static_cast<int16_t>(CurrentStep - 1));
}

void frmWiz::cmdNext_Click() {
    if (CurrentStep == 0) {
        storeSelection(selectionText());
        treeRefusal_.clear();
        if (!LoadTree()) {
            // The stored choice gave no tree: fall back to the service's default choice.
            storeSelection(std::string());
            LoadFieldLists();
            LoadTree();
        }
    } else if (CurrentStep == 1) {
        const bool anyList = static_cast<bool>(DownloadItems);
        if (anyList) {
            lblDownloadCount.Caption =
                replaceAll(CountTemplate, "@#@", std::to_string(DownloadItems->Count()));
        }
        lblDownloadCount.Visible = anyList;
        lblDownloadDescription.Visible = anyList;
        lblDownloadCount0.Visible = !anyList;
        lblDownloadDescription0.Visible = !anyList;
    }
    CurrentStep = SetStep(static_cast<int16_t>(CurrentStep + 1));
}

void frmWiz::cmdFinish_Click() {
    if (!DownloadItems) {
        prgDownload.Visible = false;
        events_.Cancel();
        Busy = 0;
        requestClose();
        return;
    }
    if (DownloadItems->Count() > 0) {
        // The owner's handlers may not change the list under the loop, but the pending events
        // may: the loop walks a snapshot of the identifiers.
        DownloadRun run;
        run.ids.reserve(static_cast<std::size_t>(DownloadItems->Count()));
        for (const auto& item : *DownloadItems) run.ids.push_back(item->ID());
        return runDownload(run);
    }
    prgDownload.Visible = false;
    // A failure gives the buttons back, to retry or to cancel.
    if (!guarded([&] { events_.Finish(); }, "frmWiz.cmdFinish_Click")) return;
    Busy = 0;
    requestClose();
}

void frmWiz::runDownload(const DownloadRun& run) {
    const auto n = static_cast<int32_t>(run.ids.size());
    const std::string cancelCaption = cmdCancel.Caption;
    cmdBack.Enabled = false;
    cmdFinish.Enabled = false;
    // Cancel turns into Stop for the time of the download: the articles saved so far stay,
    // and the download can be continued later.
    cmdCancel.Caption = lblStop.Caption;
    cmdCancel.Enabled = true;
    Busy = 1;
    ArticleDownloading.clear();
    downloadPosition_ = static_cast<int32_t>(run.done);
    DownloadProgress progress;
    progress.started = [&] {
        prgDownload.Visible = true;
        if (Refresh) Refresh();
        prgDownload.Max = n;
        prgDownload.Value = numbers::roundHalfEven(prgDownload.Max / 100.0);
    };
    progress.beforeItem = [&](int32_t position) {
        downloadPosition_ = position - 1;
        prgDownload.Value = position;
        ArticleDownloading = run.ids[static_cast<std::size_t>(position - 1)];
        services_.ui.processPendingEvents();
    };
    progress.ended = [&] { prgDownload.Visible = false; };
    const bool completed = guarded([&] { RunDownload(events_, run, *StopRequest, progress); },
                                   "frmWiz.cmdFinish_Click");
    cmdCancel.Caption = cancelCaption;
    if (!completed) {
        // A failed request stops the loop; the user gets the buttons back to retry or to
        // cancel instead of a dialog that can never close. A continued download has no marked
        // articles to retry with: Cancel keeps it for the next Show.
        StopRequest->clear();
        prgDownload.Visible = false;
        Busy = 0;
        cmdBack.Enabled = run.structure;
        cmdCancel.Enabled = true;
        cmdFinish.Enabled = run.structure;
        return;
    }
    Busy = 0;
    requestClose();
}

void frmWiz::askStop() {
    if (StopRequest->requested()) return;
    const std::string text =
        replaceAll(lblStopMsg.Caption, "@#@", std::to_string(downloadPosition_));
    if (services_.ui.msgBox(text, kWizardTitle, MsgBoxButtons::OkCancel, MsgBoxIcon::Question,
                            MsgBoxDefault::Second) == MsgBoxAnswer::Ok) {
        StopRequest->request();
    }
}

bool frmWiz::AskContinue(int32_t done, int32_t total) {
    std::string text = lblContinueMsg.Caption;
    // The first placeholder is the articles saved, the second all of them.
    for (const int32_t count : {done, total}) {
        const std::size_t at = text.find("@#@");
        if (at == std::string::npos) break;
        text.replace(at, 3, std::to_string(count));
    }
    return services_.ui.msgBox(text, kWizardTitle, MsgBoxButtons::YesNo, MsgBoxIcon::Question,
                               MsgBoxDefault::First) == MsgBoxAnswer::Yes;
}

void frmWiz::cmdCancel_Click() {
    if (Busy != 0) return askStop();
    if (CurrentStep != 0) {
        events_.Cancel();
        requestClose();
        return;
    }
    CurrentStep = SetStep(1);
}

void frmWiz::Form_KeyUp(int KeyCode, int) {
    if (KeyCode == kKeyF1) events_.Help();
}

void frmWiz::Form_Resize(int screenWidthTwips) {
    Image1.Left = 16;
    Image1.Top = 8;
    if (screenWidthTwips <= kSmallScreenTwips) Me.Top = 0;
}

void frmWiz::Image1_Click() {
    OpenBannerURL(BannerURL);
}

void frmWiz::lblMailToQuorvel_Click() {
    OpenMailURL(MailURL);
}

void frmWiz::OpenBannerURL(const std::string& url) {
    const std::string target = url.empty() ? url : trimBlanks(url);
    OpenDocApi::OpenDocument(services_.shell, *this, target, 0);
}

void frmWiz::OpenMailURL(const std::string& url) {
    if (trimBlanks(url).empty()) return;
    OpenDocApi::OpenDocument(services_.shell, *this, url, 0);
}

bool frmWiz::guarded(const std::function<void()>& request, const char* source) {
    try {
        request();
        return true;
    } catch (...) {
        reportFailure(currentError(), source);
        return false;
    }
}

void frmWiz::reportFailure(const Error& failure, const char* source) {
    services_.ui.setMousePointer(MousePointer::Default);
    services_.ui.msgBox(LocalizedText(failure.description, GUILangID), kWizardTitle,
                        MsgBoxButtons::OkOnly, MsgBoxIcon::Critical);
    events_.HandlerFailed(failure.number, failure.description,
                          failure.source.empty() ? std::string(source) : failure.source);
}

}  // namespace ovk
