#include "ovk/client.hpp"

#include "component/client_impl.hpp"
#include "document/validation_text.hpp"
#include "platform/errors.hpp"
#include "platform/text.hpp"

namespace ovk {

Client::Impl::Impl(std::shared_ptr<const ClientServices> services)
    : services(std::move(services)) {}

frmSplash& Client::Impl::splash() {
    if (!mvarSplash) mvarSplash = std::make_unique<frmSplash>(*services->ui, *this);
    return *mvarSplash;
}

namespace {
// Host handlers run on the far side of the event boundary: whatever they throw stays there.
template <class Call>
void deliver(ClientEvents* events, Call call) {
    if (events == nullptr) return;
    try {
        call(*events);
    } catch (...) {
    }
}
}  // namespace

void Client::Impl::raiseException(int32_t number, const std::string& message,
                                  const std::string& source) {
    // Messages may carry a service's or a parser's text; the host gets a sane length of it.
    const std::string shown = boundedText(message);
    const std::string origin = boundedText(source);
    deliver(events, [&](ClientEvents& e) { e.Exception(number, shown, origin); });
}
void Client::Impl::raiseDownloadComplete() {
    deliver(events, [](ClientEvents& e) { e.DownloadComplete(); });
}
void Client::Impl::raiseDownloadCancel() {
    deliver(events, [](ClientEvents& e) { e.DownloadCancel(); });
}
void Client::Impl::raiseCancelForInstallNewClient() {
    deliver(events, [](ClientEvents& e) { e.CancelForInstallNewClient(); });
}
void Client::Impl::raiseHelpRequested() {
    deliver(events, [](ClientEvents& e) { e.HelpRequested(); });
}
void Client::Impl::raiseStepChanged(int16_t step) {
    deliver(events, [&](ClientEvents& e) { e.StepChanged(step); });
}

// Wizard events that the Client turns into the host's events.
void Client::Impl::Cancel() {
    raiseDownloadCancel();
}
void Client::Impl::Help() {
    raiseHelpRequested();
}
void Client::Impl::DebugInfo(const std::string& Info) {
    raiseException(0, Info, "Debugger");
}
void Client::Impl::HandlerFailed(int32_t number, const std::string& description,
                                 const std::string& source) {
    raiseException(number, description, source);
}
void Client::Impl::NewStepNum(int16_t Stepnumber) {
    ActiveStepNumber = Stepnumber;
    raiseStepChanged(Stepnumber);
}

Client::Client() : Client(defaultClientServices()) {}

Client::Client(std::shared_ptr<const ClientServices> services)
    : impl_(std::make_unique<Impl>(std::move(services))) {}

Client::~Client() = default;

void Client::setEvents(ClientEvents* observer) {
    impl_->events = observer;
}

void Client::Test(const std::string& TestString) {
    try {
        const MsgBoxAnswer answer = impl_->services->ui->msgBox(
            "Der \xC3\xBC"
            "bergebene String ist '" +
                TestString +
                "'. Ja f\xC3\xBCr DownloadComplete und Nein f\xC3\xBCr DownloadCancel Klicken",
            "Velmora .NET Testfunktion", MsgBoxButtons::YesNo, MsgBoxIcon::Information,
            MsgBoxDefault::Second);
        if (answer == MsgBoxAnswer::Yes) {
            impl_->raiseDownloadComplete();
        } else {
            impl_->raiseDownloadCancel();
        }
    } catch (...) {
        const Error error = currentError();
        impl_->raiseException(error.number, error.description, "Function Test");
    }
}

int32_t Client::Init(const std::string& DownloadFile) {
    frmSplash& splash = impl_->splash();
    splash.StartParam = 0;
    splash.DownloadFile = DownloadFile;
    splash.UiLanguage(std::to_string(impl_->GUILangID));
    impl_->services->ui->showModal(splash);
    return splash.Init;
}

void Client::Show() {
    frmSplash& splash = impl_->splash();
    splash.StartParam = 1;
    splash.DownloadFile = impl_->DownloadFile;
    splash.UiLanguage(std::to_string(impl_->GUILangID));
    impl_->services->ui->showModal(splash);
}

const std::string& Client::DownloadFile() const {
    return impl_->DownloadFile;
}
void Client::DownloadFile(std::string value) {
    impl_->DownloadFile = std::move(value);
}
const std::string& Client::ServiceUrl() const {
    return impl_->settings.serviceUrl;
}
void Client::ServiceUrl(std::string value) {
    impl_->settings.serviceUrl = std::move(value);
}
const std::string& Client::ProxyPassword() const {
    return impl_->settings.proxyPassword;
}
void Client::ProxyPassword(std::string value) {
    impl_->settings.proxyPassword = std::move(value);
}
const std::string& Client::ProxyUserName() const {
    return impl_->settings.proxyUserName;
}
void Client::ProxyUserName(std::string value) {
    impl_->settings.proxyUserName = std::move(value);
}
int32_t Client::ProxyPort() const {
    return impl_->settings.proxyPort;
}
void Client::ProxyPort(int32_t value) {
    impl_->settings.proxyPort = value;
}
const std::string& Client::ProxyIP() const {
    return impl_->settings.proxyIp;
}
void Client::ProxyIP(std::string value) {
    impl_->settings.proxyIp = std::move(value);
}
const std::string& Client::ValidationErrorCodes() const {
    return validationText();
}
int16_t Client::ActiveStepNumber() const {
    return impl_->ActiveStepNumber;
}
int16_t Client::GUILangID() const {
    return impl_->GUILangID;
}
void Client::GUILangID(int16_t value) {
    impl_->GUILangID = value;
}

}  // namespace ovk
