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
    CurrentStep = SetStep(0);
    LoadFieldLists();
    cmdNext_Click();
    services_.ui.processPendingEvents();
}

bool frmWiz::formQueryUnload() {
    return Busy == 0;
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
    const auto giveBackAfterFailure = [this] {
        prgDownload.Visible = false;
        Busy = 0;
        cmdBack.Enabled = true;
        cmdCancel.Enabled = true;
        cmdFinish.Enabled = true;
    };
    if (!DownloadItems) {
        prgDownload.Visible = false;
        events_.Cancel();
    } else {
        const int32_t n = DownloadItems->Count();
        if (n > 0) {
            cmdBack.Enabled = false;
            cmdCancel.Enabled = false;
            cmdFinish.Enabled = false;
            Busy = 1;
            ArticleDownloading.clear();
            // A failed request stops the loop; the user gets the buttons back to retry or to
            // cancel instead of a dialog that can never close.
            bool announced = false;
            const bool completed = guarded(
                [&] {
                    events_.DownloadStructure();
                    prgDownload.Visible = true;
                    if (Refresh) Refresh();
                    prgDownload.Max = n;
                    prgDownload.Value = numbers::roundHalfEven(prgDownload.Max / 100.0);
                    // The owner's handlers may not change the list under the loop, but the
                    // pending events may: walk a snapshot of the identifiers.
                    std::vector<std::string> ids;
                    ids.reserve(static_cast<std::size_t>(n));
                    for (const auto& item : *DownloadItems) ids.push_back(item->ID());
                    // The owner may fetch the items to come while it handles the current one.
                    announced = true;
                    events_.ItemsToCome(ids);
                    int32_t i = 1;
                    for (const std::string& id : ids) {
                        prgDownload.Value = i;
                        ArticleDownloading = id;
                        services_.ui.processPendingEvents();
                        events_.DownloadItem(id);
                        ++i;
                    }
                },
                "frmWiz.cmdFinish_Click");
            // Whatever was fetched for items the loop never reached is of no use any more.
            if (announced) events_.ItemsToCome({});
            if (!completed) return giveBackAfterFailure();
        }
        prgDownload.Visible = false;
        if (!guarded([&] { events_.Finish(); }, "frmWiz.cmdFinish_Click"))
            return giveBackAfterFailure();
    }
    Busy = 0;
    requestClose();
}

void frmWiz::cmdCancel_Click() {
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
