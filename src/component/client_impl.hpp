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
#include "wizard/download_loop.hpp"
#include "wizard/frm_wiz.hpp"
#include "xml/cdata_stand_ins.hpp"
#include "xml/document.hpp"

namespace ovk {

struct DownloadSession;

// The state and the form-event handlers behind the public Client.
struct Client::Impl : SplashEvents, WizardEvents {
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
    // MyXMLDocument holds the last download's items as Init loaded them, their payloads
    // standing in for the file's (LoadDownloadDocument): it must not be saved before
    // DownloadStructure has removed them.
    bool lastItemsStandIn = false;
    std::shared_ptr<soap::ServiceClient> MySoapobject;
    std::unique_ptr<frmSplash> mvarSplash;
    std::unique_ptr<frmWiz> mvarWizForm;
    std::string projectType;
    std::string bannerUrl;
    std::string mailUrl;
    ClientEvents* events = nullptr;
    // What the download transactions keep between requests; made by the first of them.
    std::shared_ptr<DownloadSession> downloadSession;
    // Where the large texts of the document's items stood in the file when Init loaded it, and
    // the file's identity then: a download continued on that file tells Finish, which then
    // copies them without reading them through.
    struct LoadedItems {
        std::vector<CDataStandIns::Range> sections;
        std::string file;  // fileIdentity() of the document
    } loadedItems;
    // The file's device, inode, size and modification time, links followed; empty when it
    // cannot be read.
    static std::string fileIdentity(const std::filesystem::path& path);
    // Asks the running download to stop; shared with the wizard, and read from any thread.
    const std::shared_ptr<DownloadStop> downloadStop = std::make_shared<DownloadStop>();
    // The article the item download is at, counted from 1 over the whole plan.
    std::uint64_t downloadPosition = 0;

    // The download the document holds that stopped before its end, if any (the document is
    // taken, and repaired, to tell; with `keep` it stays held, for continuing it). Throws
    // DocumentInUse when another download holds it.
    std::optional<DownloadPlan::State> unfinishedDownload(bool keep = false);
    // Prepares to continue that download: the run of the Finish loop that does it.
    DownloadRun resumeDownload(const DownloadPlan::State& state);

    frmSplash& splash();
    // The splash form for one Init or Show: mvarSplash, or, for a call nested in another that
    // has it on screen, a new form kept in `nested` for that call alone.
    frmSplash& splashForRun(std::unique_ptr<frmSplash>& nested);

    // Raising the host's events. A host handler that throws cannot break the component: the
    // failure stays on the host's side of the boundary.
    void raiseException(int32_t number, const std::string& message, const std::string& source);
    void raiseDownloadComplete();
    void raiseDownloadCancel();
    void raiseCancelForInstallNewClient();
    void raiseHelpRequested();
    void raiseStepChanged(int16_t step);
    // Puts a message box of an unattended client to the host; 0 when nobody answers.
    int32_t raiseMessageBox(const MessageBoxRequest& box);
    void raiseDownloadProgress(int32_t done, int32_t total);

    // The last failure raised as an Exception (debug texts aside): the members that drive the
    // wizard without a window throw what the wizard reported.
    std::optional<Error> lastFailure;
    // How far the running download has got, for DownloadProgress.
    int32_t itemsDone = 0;
    int32_t itemsPlanned = 0;
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
    DownloadSession& download();
    // The item request behind DownloadItem.
    void fetchItem(const std::string& MaterialId);
    // The arguments of an item's request, the same whether it is fetched ahead or not.
    std::vector<soap::Argument> itemRequest(const std::string& MaterialId,
                                            int16_t languageId) const;
    // Copies a node of an item reply beneath `parent`, skipping whatever fails to copy.
    void AppendNodeCopy(xml::Document& target, xml::Node parent, xml::Node source);
    // The item reply being copied is held by nobody else, so its texts may move rather than
    // be copied.
    bool movableReplyText = false;
    // The article whose reply is being copied, named when one of its payloads is not written.
    std::string articleBeingCopied;
};

}  // namespace ovk
