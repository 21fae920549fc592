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
    return wizard;
}

void Client::Impl::InitWizzard() {
    UserInterface& ui = *services->ui;
    ui.setMousePointer(MousePointer::Hourglass);
    frmWiz& wizard = prepareWizard();
    ui.setMousePointer(MousePointer::Default);
    ui.showModal(wizard);
}

}  // namespace ovk
