#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace ovk {

/// A message box that an unattended client answers instead of showing it (see
/// Client::Unattended). The numbers are those of the component's message boxes.
struct MessageBoxRequest {
    /// The box's text and title, as a user would have seen them.
    std::string Text;
    std::string Title;
    /// 0 OK, 1 OK and Cancel, 2 Abort, Retry and Ignore, 3 Yes, No and Cancel, 4 Yes and No,
    /// 5 Retry and Cancel.
    int32_t Buttons = 0;
    /// 0 none, 16 critical, 32 question, 48 exclamation, 64 information.
    int32_t Icon = 0;
    /// The answer of the box's default button: 1 OK, 2 Cancel, 3 Abort, 4 Retry, 5 Ignore,
    /// 6 Yes, 7 No.
    int32_t DefaultAnswer = 1;
};

/// What a Client tells its host. Every method is called synchronously on the host's thread,
/// before the operation that raised it goes on; a handler that calls back into the Client runs
/// nested inside that operation. Override the ones you need; the others do nothing.
class ClientEvents {
  public:
    virtual ~ClientEvents() = default;
    /// A failure: start-up steps, service failures during the download, Test, and the
    /// wizard's debug texts (Number 0, Source "Debugger").
    virtual void Exception(int32_t /*Number*/, const std::string& /*Message*/,
                           const std::string& /*Source*/) {}
    /// The download finished and the download document holds its results.
    virtual void DownloadComplete() {}
    /// The user cancelled the wizard or declined a newer client version.
    virtual void DownloadCancel() {}
    /// The user chose to install a newer client version; its installer has been started.
    virtual void CancelForInstallNewClient() {}
    /// The user pressed F1 inside the wizard.
    virtual void HelpRequested() {}
    /// The wizard moved to step Stepnumber (0, 1 or 2).
    virtual void StepChanged(int16_t /*Stepnumber*/) {}
    /// Unattended clients only: a message box the component asks instead of showing it. Every
    /// box arrives here. Return the answer (one of the box's buttons, numbered as in
    /// MessageBoxRequest::DefaultAnswer), or 0 to take the default button; any other number
    /// also takes the default button.
    virtual int32_t MessageBox(const MessageBoxRequest& /*Box*/) { return 0; }
};

/// The component: downloads master data from the master-data service into the host's download
/// document. Create one, set its properties, call Init with the download document, and when it
/// returned 0 call Show to run the wizard.
class Client {
  public:
    /// A client using the installed component's services: its desktop user interface, the
    /// user's settings and the desktop's way of opening files and addresses.
    Client();
    /// The implementation behind a client; opaque to hosts.
    struct Impl;
    /// A client around a prepared implementation. For the component's own tools and tests;
    /// hosts use Client().
    explicit Client(std::unique_ptr<Impl> impl);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    /// Where the events go; nullptr (the default) drops them. The observer must outlive the
    /// calls that raise events.
    void setEvents(ClientEvents* observer);

    /// Shows a test message box; Yes raises DownloadComplete, anything else DownloadCancel.
    void Test(const std::string& TestString);
    /// Runs the wizard; it returns when the wizard has closed. Call it after Init returned 0.
    /// When the wizard cannot be shown (no successful Init, no display) it shows nothing,
    /// raises one Exception with Source "Show" and throws ovk::Error with the same number and
    /// text.
    void Show();
    /// Checks the installation, the download document and the service. Returns 0 when all is
    /// well, 1 when the user declined a newer client, -1 when the document is missing or the
    /// installer of a newer client was started, another negative step code on failure (with an
    /// Exception event); -990 when the component cannot show its windows (no display: see
    /// Unattended). An empty DownloadFile keeps the property's value. Never throws.
    int32_t Init(const std::string& DownloadFile = {});

    /// Asks a running download (the wizard's Finish, or ContinueDownload) to stop after the
    /// article being fetched: the download document keeps the articles saved so far, the
    /// download raises DownloadCancel, and it can be continued later. Callable from any thread,
    /// also from a signal-handling thread. A request made while Show or ContinueDownload runs but
    /// before the download starts stops it before its first article; one made while neither runs
    /// does nothing.
    void StopDownload();
    /// Whether the download document (DownloadFile) holds a download that stopped before its
    /// end, and can be continued: then `done` receives the articles saved and `total` all the
    /// articles of that download. False when there is none, when the document changed since,
    /// when it cannot be read, or while another download holds it. Checking repairs what an
    /// interrupted run left, as Init does.
    bool UnfinishedDownload(int32_t& done, int32_t& total);
    /// Continues the unfinished download without a window, from the next article: no article is
    /// fetched twice and none is left out, then the download is finished as the wizard's Finish
    /// does, ending with DownloadComplete (or DownloadCancel after StopDownload). The result is
    /// the same as that of one download without the stop. Call it after Init returned 0. When
    /// there is nothing to continue, or the download fails, it raises one Exception with Source
    /// "ContinueDownload" and throws ovk::Error with the same number and text. Show asks the
    /// user the same question itself.
    void ContinueDownload();

    /// Unattended mode, for hosts without a screen or without a user: the client opens no
    /// window at all. Every message box goes to ClientEvents::MessageBox, which answers it (or
    /// takes its default button), and Show runs the wizard's start without anyone to choose:
    /// it closes as cancelled (DownloadCancel). Off by default. Changing it inside Init or Show
    /// throws ovk::Error (number 5); changing it between calls starts a fresh wizard.
    void Unattended(bool value);
    bool Unattended() const;

    /// Path of the download document.
    const std::string& DownloadFile() const;
    void DownloadFile(std::string value);
    /// Service end point; replaced by the document's URL during Init.
    const std::string& ServiceUrl() const;
    void ServiceUrl(std::string value);
    /// Proxy password; the document's value wins when it has one.
    const std::string& ProxyPassword() const;
    void ProxyPassword(std::string value);
    /// Proxy user; the document's value wins when it has one.
    const std::string& ProxyUserName() const;
    void ProxyUserName(std::string value);
    /// Proxy port; the document's value wins when it is a number.
    int32_t ProxyPort() const;
    void ProxyPort(int32_t value);
    /// Proxy host name or address; the document's value wins when it has one.
    const std::string& ProxyIP() const;
    void ProxyIP(std::string value);
    /// Traces every service call of the next Init and Show to `file`, for support: one JSON
    /// line per attempt (time, operation, article, attempt, HTTP status, bytes sent, received
    /// and inflated, duration, outcome), with the request and reply bodies when `withBodies`.
    /// Passwords and proxy credentials are written as ***. The file is appended to, created
    /// readable by its owner alone; one that cannot be written fails Init (-9). An empty file
    /// leaves it to the per-user setting "TraceFile" (and "TraceBodies").
    void Trace(std::string file, bool withBodies = false);
    const std::string& TraceFile() const;
    /// The last schema-validation or service-connection detail text, shared by all clients.
    const std::string& ValidationErrorCodes() const;
    /// The wizard step last reported (0 before the wizard ran).
    int16_t ActiveStepNumber() const;
    /// User-interface language identifier (1033 English, 1031 German, ...); Init sets 1033 when
    /// the component has no texts for it.
    int16_t GUILangID() const;
    void GUILangID(int16_t value);

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace ovk
