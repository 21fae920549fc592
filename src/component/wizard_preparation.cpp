// SPDX-License-Identifier: MIT
// The wizard preparation behind Client::Show, run inside the splash form's InitWizzard event.
// It has no trap of its own: a failure ends Show.

#include "component/client_impl.hpp"
#include "document/client_resources.hpp"

namespace ovk {

frmWiz& Client::Impl::prepareWizard() {
    UserInterface& ui = *services->ui;
    if (!mvarWizForm) {
        const WizardServices wizardServices{
            ui, *services->settings, *services->timers,
            ShellServices{*services->shell, *services->platform, ui}};
        mvarWizForm = std::make_unique<frmWiz>(wizardServices, *this);
    }
    frmWiz& wizard = *mvarWizForm;
    wizard.MyDownloadDoc = MyXMLDocument;
    wizard.MySoapobject = MySoapobject;
    wizard.DownloadFile = DownloadFile;
    wizard.ActiveProject = settings.projectId;
    wizard.ActivePassword = settings.projectPassword;
    wizard.GUILangID = GUILangID;
    wizard.ActiveLangId = GetNlsLanguageId(settings.projectLanguage);
    wizard.BannerURL = bannerUrl;
    wizard.MailURL = mailUrl;
    wizard.StopRequest = downloadStop;
    return wizard;
}

void Client::Impl::InitWizzard() {
    UserInterface& ui = *services->ui;
    ui.setMousePointer(MousePointer::Hourglass);
    frmWiz& wizard = prepareWizard();
    // A download that stopped before its end is offered first; No leaves it for later and
    // opens the wizard as always.
    std::optional<DownloadPlan::State> unfinished;
    try {
        unfinished = transactions.unfinishedDownload(true);
    } catch (...) {
        // Held by another download or unreadable: the wizard says so when it downloads.
    }
    if (unfinished) {
        wizard.LocalizeForm(GUILangID);
        ui.setMousePointer(MousePointer::Default);
        if (wizard.AskContinue(static_cast<int32_t>(unfinished->done),
                               static_cast<int32_t>(unfinished->ids.size()))) {
            DownloadRun run = resumeDownload(*unfinished);
            // Without a window there is no progress to show: the loop runs on its own.
            if (unattended) {
                RunDownload(*this, run, *downloadStop);
                return;
            }
            wizard.ContinueRun = std::move(run);
        } else {
            // Left for later: the document is free until the user's next download takes it.
            transactions.release();
        }
    }
    ui.setMousePointer(MousePointer::Default);
    ui.showModal(wizard);
}

}  // namespace ovk
