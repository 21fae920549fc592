// SPDX-License-Identifier: MIT
#include "ovk/client.hpp"

#include "ovk/version.h"

#include "component/client_impl.hpp"
#include "component/unattended_user_interface.hpp"
#include "document/component_texts.hpp"
#include "document/validation_text.hpp"
#include "platform/errors.hpp"
#include "platform/manual_clock.hpp"
#include "platform/text.hpp"

namespace ovk {

Client::Impl::Impl(std::shared_ptr<const ClientServices> services)
    : services(services), attendedServices(std::move(services)) {}

frmSplash& Client::Impl::splash() {
    if (!mvarSplash) mvarSplash = std::make_unique<frmSplash>(*services->ui, *this);
    return *mvarSplash;
}

frmSplash& Client::Impl::splashForRun(std::unique_ptr<frmSplash>& nested) {
    frmSplash& own = splash();
    if (!own.isShown()) return own;
    // A host handler called Init or Show while the splash form is on screen for another call.
    // That call still reads its outcome from the form, and its window waits for the form's
    // close: the nested call gets a form of its own.
    nested = std::make_unique<frmSplash>(*services->ui, *this);
    return *nested;
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
    // Made in English where they happen; the host gets them in the user's language.
    const std::string shown = boundedText(LocalizedText(message, GUILangID));
    const std::string origin = boundedText(source);
    if (number != 0) lastFailure = Error(number, shown, origin);
    deliver(events, [&](ClientEvents& e) { e.Exception(number, shown, origin); });
}
void Client::Impl::raiseDownloadComplete() {
    ++downloadsCompleted;
    deliver(events, [](ClientEvents& e) { e.DownloadComplete(); });
}
void Client::Impl::raiseDownloadCancel() {
    ++downloadsCancelled;
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
void Client::Impl::raiseDownloadProgress(int32_t done, int32_t total) {
    // A host built before this event existed has no slot for it: ask only those that opted in.
    auto* progress = dynamic_cast<DownloadProgressEvents*>(events);
    if (progress == nullptr) return;
    deliver(events, [&](ClientEvents&) { progress->DownloadProgress(done, total); });
}
int32_t Client::Impl::raiseMessageBox(const MessageBoxRequest& box) {
    int32_t answer = 0;
    deliver(events, [&](ClientEvents& e) { answer = e.MessageBox(box); });
    return answer;
}

// Wizard events that the Client turns into the host's events.
void Client::Impl::Cancel() {
    // A download given up after a failure ends here: its document is free for the next one.
    releaseDownload();
    raiseDownloadCancel();
}
void Client::Impl::releaseDownload() {
    skipOnError([&] { transactions.release(); });
}

// The wizard's download events, carried out by the transactions.
void Client::Impl::DownloadStructure() {
    transactions.DownloadStructure();
}
void Client::Impl::PlanDownload(const std::vector<std::string>& MaterialIds) {
    transactions.PlanDownload(MaterialIds);
}
void Client::Impl::ItemsToCome(const std::vector<std::string>& MaterialIds) {
    transactions.ItemsToCome(MaterialIds);
}
void Client::Impl::DownloadItem(const std::string& MaterialId) {
    transactions.DownloadItem(MaterialId);
}
void Client::Impl::Finish() {
    transactions.Finish();
}

DownloadRun Client::Impl::resumeDownload(const DownloadPlan::State& state) {
    DownloadRun run{state.ids, static_cast<std::size_t>(state.done), state.tailOffset < 0};
    // Nothing saved yet: the download starts over, structure request first, on the document as
    // the host left it.
    if (!run.structure) transactions.resumeDownload(state);
    return run;
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

namespace {

// Marks Init or Show as running, so that the mode cannot change under their forms.
class RunningCall {
  public:
    explicit RunningCall(int& count) : count_(count) { ++count_; }
    ~RunningCall() { --count_; }
    RunningCall(const RunningCall&) = delete;
    RunningCall& operator=(const RunningCall&) = delete;

  private:
    int& count_;
};

// Init returns this when the splash window cannot be shown at all (no display, or a host
// application without widgets): the start-up never ran.
constexpr int32_t kInitWindowsUnavailable = -990;

}  // namespace

const char* version() noexcept {
    return OVK_CLIENT_VERSION_TEXT;
}

Client::Client() : impl_(std::make_unique<Impl>(defaultClientServices())) {}

Client::Client(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {
    if (!impl_) throw Error(err::InvalidArgument, "A client needs an implementation", "Client");
}

Client::~Client() = default;

void Client::setEvents(ClientEvents* observer) {
    impl_->events = observer;
}

void Client::Test(const std::string& TestString) {
    try {
        impl_->services->ui->useLanguage(impl_->GUILangID);
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
    const RunningCall running(impl_->runningCalls);
    const unsigned run = ++impl_->initRuns;
    impl_->initSucceeded = false;
    // Whether Show may run follows the start-up that left the document and the service client
    // in place: a start-up that a host handler began inside this one did so after this one's
    // work, since this one reports last of all.
    const auto settle = [&](int32_t result) {
        if (impl_->initRuns == run) impl_->initSucceeded = result == 0;
    };
    std::unique_ptr<frmSplash> nestedSplash;
    try {
        frmSplash& splash = impl_->splashForRun(nestedSplash);
        splash.StartParam = 0;
        splash.DownloadFile = DownloadFile;
        splash.UiLanguage(std::to_string(impl_->GUILangID));
        impl_->services->ui->useLanguage(impl_->GUILangID);
        impl_->services->ui->showModal(splash);
        settle(splash.Init);
        return splash.Init;
    } catch (...) {
        // The start-up reports its own failures; only a splash window that could not be shown
        // gets here, and Init never fails as a call.
        const Error error = currentError();
        impl_->raiseException(error.number, error.description, "Init");
        settle(kInitWindowsUnavailable);
        return kInitWindowsUnavailable;
    }
}

void Client::Show() {
    const RunningCall running(impl_->runningCalls);
    const DownloadStop::Running downloading(*impl_->downloadStop);
    try {
        // Without the document and the service client of a successful Init, the wizard would
        // work on nothing and fail at every step.
        if (!impl_->initSucceeded) {
            throw Error(err::ObjectMissing,
                        "Show needs a successful Init: call Init with the download document and "
                        "show the wizard only when Init returned 0.",
                        "Show");
        }
        std::unique_ptr<frmSplash> nestedSplash;
        frmSplash& splash = impl_->splashForRun(nestedSplash);
        splash.StartParam = 1;
        splash.DownloadFile = impl_->DownloadFile;
        splash.UiLanguage(std::to_string(impl_->GUILangID));
        impl_->services->ui->useLanguage(impl_->GUILangID);
        impl_->services->ui->showModal(splash);
    } catch (...) {
        Error error = currentError();
        error.source = "Show";
        impl_->raiseException(error.number, error.description, error.source);
        throw error;
    }
}

void Client::StopDownload() {
    impl_->downloadStop->requestIfRunning();
}

bool Client::UnfinishedDownload(int32_t& done, int32_t& total) {
    done = 0;
    total = 0;
    try {
        const auto state = impl_->transactions.unfinishedDownload();
        if (!state) return false;
        done = static_cast<int32_t>(state->done);
        total = static_cast<int32_t>(state->ids.size());
        return true;
    } catch (...) {
        // Another download holds the document, or it cannot be read: there is nothing this
        // client could continue now.
        return false;
    }
}

void Client::Unattended(bool value) {
    if (value == impl_->unattended) return;
    if (impl_->runningCalls > 0) {
        throw Error(err::InvalidArgument,
                    "Unattended cannot change while Init or Show runs; set it before calling them.",
                    "Unattended");
    }
    // The forms hold the user interface and the timers they were made with: they go before the
    // services that made them.
    impl_->mvarWizForm.reset();
    impl_->mvarSplash.reset();
    if (value) {
        auto services = std::make_shared<ClientServices>(*impl_->attendedServices);
        Impl* const impl = impl_.get();
        services->ui = std::make_shared<UnattendedUserInterface>(
            [impl](const MessageBoxRequest& box) { return impl->raiseMessageBox(box); },
            [impl] { impl->raiseDownloadCancel(); });
        // Nobody waits for a timer to tick where nobody clicks.
        services->timers = std::make_shared<ManualClock>();
        impl_->services = std::move(services);
    } else {
        impl_->services = impl_->attendedServices;
    }
    impl_->unattended = value;
}

bool Client::Unattended() const {
    return impl_->unattended;
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
void Client::Trace(std::string file, bool withBodies) {
    impl_->trace = TraceRequest{std::move(file), withBodies};
}
const std::string& Client::TraceFile() const {
    return impl_->trace.file;
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
