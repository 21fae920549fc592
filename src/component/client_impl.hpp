// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "component/client_services.hpp"
#include "component/frm_splash.hpp"
#include "component/soap_setup.hpp"
#include "document/config_infos.hpp"
#include "ovk/client.hpp"
#include "platform/errors.hpp"
#include "service/download_plan.hpp"
#include "service/download_transactions.hpp"
#include "wizard/download_loop.hpp"
#include "wizard/frm_wiz.hpp"
#include "xml/document.hpp"

namespace ovk {

// The state and the form-event handlers behind the public Client.
struct Client::Impl : SplashEvents, WizardEvents, DownloadEvents {
    explicit Impl(std::shared_ptr<const ClientServices> services);

    // Public properties.
    std::string DownloadFile;
    ConnectionSettings settings;  // ServiceUrl, proxy and the project values from the document
    int16_t GUILangID = 0;
    int16_t ActiveStepNumber = 0;
    TraceRequest trace;  // a trace the host asked for; empty: the user's setting decides

    // Private state.
    std::shared_ptr<const ClientServices> services;  // those in use: attended or unattended
    std::shared_ptr<const ClientServices> attendedServices;
    bool unattended = false;
    bool initSucceeded = false;  // the last Init gave 0: Show may run the wizard
    unsigned initRuns = 0;       // Init calls begun, nested ones included
    int runningCalls = 0;        // Init and Show in progress, nested ones included
    std::shared_ptr<xml::Document> MyXMLDocument;
    std::shared_ptr<soap::ServiceClient> MySoapobject;
    std::unique_ptr<frmSplash> mvarSplash;
    std::unique_ptr<frmWiz> mvarWizForm;
    std::string projectType;
    std::string bannerUrl;
    std::string mailUrl;
    ClientEvents* events = nullptr;
    // The structure, item and Finish requests the wizard's events lead to.
    DownloadTransactions transactions{
        DownloadContext{DownloadFile, MyXMLDocument, settings, MySoapobject, GUILangID, *this}};
    // Asks the running download to stop; shared with the wizard, and read from any thread.
    const std::shared_ptr<DownloadStop> downloadStop = std::make_shared<DownloadStop>();

    // Prepares to continue an unfinished download (transactions.unfinishedDownload): the run of
    // the Finish loop that does it.
    DownloadRun resumeDownload(const DownloadPlan::State& state);

    frmSplash& splash();
    // The splash form for one Init or Show: mvarSplash, or, for a call nested in another that
    // has it on screen, a new form kept in `nested` for that call alone.
    frmSplash& splashForRun(std::unique_ptr<frmSplash>& nested);

    // Raising the host's events. A host handler that throws cannot break the component: the
    // failure stays on the host's side of the boundary.
    void raiseException(int32_t number, const std::string& message,
                        const std::string& source) override;
    void raiseDownloadComplete() override;
    void raiseDownloadCancel();
    void raiseCancelForInstallNewClient();
    void raiseHelpRequested();
    void raiseStepChanged(int16_t step);
    // Puts a message box of an unattended client to the host; 0 when nobody answers.
    int32_t raiseMessageBox(const MessageBoxRequest& box);
    void raiseDownloadProgress(int32_t done, int32_t total) override;

    // The last failure raised as an Exception (debug texts aside): the members that drive the
    // wizard without a window throw what the wizard reported.
    std::optional<Error> lastFailure;
    // Downloads that ended complete or cancelled, so that a caller can tell how one ended.
    unsigned downloadsCompleted = 0;
    unsigned downloadsCancelled = 0;
    // Frees the document of a download given up after a failure.
    void releaseDownload();
    // The Init whose document and service the wizard behind the download members holds; 0:
    // not prepared.
    unsigned unattendedWizardRun = 0;

    // Splash form events.
    void InitializeEnvironment(const std::string& downloadFile, int32_t& Result,
                               int32_t& Init) override;

    // The steps of the start-up that need no service (installation, document, settings,
    // language), reported exactly as Init reports them. Returns 0 or the failing step's code.
    int32_t CheckOffline(const std::string& downloadFile);
    // Told about every start-up step that passed, with what it found (for tools that report
    // each finding of a check, not only the first failure).
    std::function<void(const char* step, const std::string& detail)> onStepPassed;
    void InitWizzard() override;
    // The wizard form with this client's document, service and project handed in, as the
    // wizard preparation hands them before showing it.
    frmWiz& prepareWizard();

    // Wizard events.
    void Finish() override;
    void Cancel() override;
    void Help() override;
    void DownloadItem(const std::string& MaterialId) override;
    void DownloadStructure() override;
    void NewStepNum(int16_t Stepnumber) override;
    void DebugInfo(const std::string& Info) override;
    void HandlerFailed(int32_t number, const std::string& description,
                       const std::string& source) override;
    void ItemsToCome(const std::vector<std::string>& MaterialIds) override;
    void PlanDownload(const std::vector<std::string>& MaterialIds) override;

  private:
    // Runs start-up steps; the first failure becomes one Exception and the outcome in Init.
    void runReported(int32_t& Result, int32_t& Init, const std::function<void()>& steps);
    void prepareDocument(const std::string& downloadFile, int32_t& Result);
    void stepPassed(const char* step, const std::string& detail);
    void connectToService(int32_t& Result, int32_t& Init);
};

}  // namespace ovk
