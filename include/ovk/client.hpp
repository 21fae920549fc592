// SPDX-License-Identifier: MIT
#pragma once

#include <ovk/version.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ovk {

/// The component's version, "MAJOR.MINOR.PATCH": the one the loaded library was built as,
/// which may be newer than the OVK_CLIENT_VERSION_TEXT a host was compiled with.
const char* version() noexcept;

/// A data field of the project, by which the tree of articles is built (Client::Fields).
struct Field {
    /// The field's number, as the service gives it; Client::SelectFields takes these.
    int32_t Id = 0;
    /// The field's name in the project's language.
    std::string Name;
};

/// The project's data fields (Client::Fields).
struct FieldChoice {
    /// Every field the project offers that is not selected, in the service's order.
    std::vector<Field> Available;
    /// The fields the tree is built over, top level first: the user's stored choice for this
    /// project and language, or the service's default choice.
    std::vector<Field> Selected;
};

/// A node of the structure tree (Client::TreeNodes).
struct TreeNode {
    /// Names the node in Client::TreeNodes and Client::LeafArticles: the path of "Id{}Value"
    /// parts from the top, joined by "||".
    std::string Key;
    /// The value the node stands for, as the wizard shows it.
    std::string Text;
    /// How many nodes are directly below it; 0 for a leaf, whose articles
    /// Client::LeafArticles reads.
    int32_t ChildCount = 0;
};

/// An article under a leaf of the tree (Client::LeafArticles).
struct Article {
    /// The article's identifier: what Client::Download takes.
    std::string Id;
    /// The values of the columns after the first, in the order of ArticleList::Columns.
    std::vector<std::string> Values;
};

/// The articles under a leaf, as the wizard's article list shows them.
struct ArticleList {
    /// The column headers; the first is the identifier's.
    std::vector<std::string> Columns;
    /// One entry per article, in the service's order.
    std::vector<Article> Articles;
};

/// A message box that an unattended client answers instead of showing it (see
/// Client::Unattended). The numbers are those of the component's message boxes.
struct MessageBoxRequest {
    /// The box's text, as a user would have seen it.
    std::string Text;
    /// The box's title.
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
    /// A failure: start-up steps, service failures during the download, Test, a refused
    /// member. Number 0 with Source "Debugger" is no failure: it names, as Message, the key of
    /// the tree leaf whose articles the wizard (or LeafArticles) is about to read.
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

/// Events added after the first release. An events object that also derives from this class
/// receives them; ClientEvents itself keeps the layout hosts built against 1.0 were compiled
/// with, so their binaries keep working with this library. Derive from both:
/// `struct Events : ovk::ClientEvents, ovk::DownloadProgressEvents { ... };`
class DownloadProgressEvents {
  public:
    virtual ~DownloadProgressEvents() = default;
    /// A download (the wizard's Finish or Client::Download) has dealt with article Done of
    /// Total: it is saved in the download document, or an Exception said why not. Raised after
    /// each article, in the download's order.
    virtual void DownloadProgress(int32_t /*Done*/, int32_t /*Total*/) {}
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
    /// The wizard ends with DownloadComplete or DownloadCancel, except when the user closes it
    /// by Escape or its window frame: that raises no event.
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

    /// Asks a running download (the wizard's Finish, Download or ContinueDownload) to stop after
    /// the article being fetched: the download document keeps the articles saved so far, the
    /// download raises DownloadCancel, and it can be continued later. Callable from any thread,
    /// also from a signal-handling thread. A request made while Show, Download or
    /// ContinueDownload runs but before the download starts stops it before its first article;
    /// one made while none of them runs does nothing.
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
    ///@{
    void Unattended(bool value);
    bool Unattended() const;
    ///@}

    /// @name Downloads without the wizard
    /// Call these after Init returned 0, instead of Show: a host picks the articles itself (or
    /// knows them already, as a nightly download does) and the component downloads them exactly
    /// as the wizard's Finish would. They work in either mode; an unattended client puts its
    /// message boxes to ClientEvents::MessageBox, another shows them. Every member throws
    /// ovk::Error when called without a successful Init, while Init or Show runs, or when the
    /// service or an argument fails it; the failure has then also been raised as an Exception.
    /// @{

    /// The project's data fields: those the tree is built over and the others. Reads the
    /// project's structure from the service; without a stored choice for this project and
    /// language, the service's default choice is stored, as the wizard does.
    FieldChoice Fields();
    /// Builds the tree over these fields (Field::Id, top level first) and stores them as the
    /// user's choice for this project and language, as the wizard's Next does. Throws
    /// ovk::Error 5 for an empty list, a field the project does not have or one given twice.
    void SelectFields(const std::vector<int32_t>& FieldIds);
    /// The nodes directly below the node `ParentKey`, or the top of the tree for an empty key;
    /// the tree is read once from the service (bounded as the wizard's tree), and each call
    /// hands out one level of it. Throws ovk::Error 9 for a key the tree does not have.
    std::vector<TreeNode> TreeNodes(const std::string& ParentKey = {});
    /// The articles under the leaf `LeafKey`, read from the service as the wizard reads them
    /// when the user rests on that leaf (and raising the same Exception with Source
    /// "Debugger" that names the leaf). Throws ovk::Error 9 for a key the tree does not have,
    /// 5 for a node that is no leaf.
    ArticleList LeafArticles(const std::string& LeafKey);
    /// Downloads these articles, in this order, through the wizard's Finish: the structure
    /// request, one item request per article, Finish, with the same events (DownloadProgress
    /// after each article, then DownloadComplete), files and failure handling. No articles
    /// end as an empty Finish does: with DownloadCancel. `FieldIds`, when given, are selected
    /// first as SelectFields does. A download asked to stop ends with DownloadCancel and
    /// returns. When the download fails, the document keeps the articles saved so far and is
    /// free for the next download, and ovk::Error is thrown.
    void Download(const std::vector<std::string>& ArticleIds,
                  const std::vector<int32_t>& FieldIds = {});
    /// @}

    /// Path of the download document.
    ///@{
    const std::string& DownloadFile() const;
    void DownloadFile(std::string value);
    ///@}
    /// Service end point; replaced by the document's URL during Init.
    ///@{
    const std::string& ServiceUrl() const;
    void ServiceUrl(std::string value);
    ///@}
    /// Proxy password; the document's value wins when it has one.
    ///@{
    const std::string& ProxyPassword() const;
    void ProxyPassword(std::string value);
    ///@}
    /// Proxy user; the document's value wins when it has one.
    ///@{
    const std::string& ProxyUserName() const;
    void ProxyUserName(std::string value);
    ///@}
    /// Proxy port; the document's value wins when it is a number.
    ///@{
    int32_t ProxyPort() const;
    void ProxyPort(int32_t value);
    ///@}
    /// Proxy host name or address; the document's value wins when it has one.
    ///@{
    const std::string& ProxyIP() const;
    void ProxyIP(std::string value);
    ///@}
    /// Traces every service call of the next Init and Show to `file`, for support: one JSON
    /// line per attempt (time, operation, article, attempt, HTTP status, bytes sent, received
    /// and inflated, duration, outcome), with the request and reply bodies when `withBodies`.
    /// Passwords and proxy credentials are written as ***. The file is appended to, created
    /// readable by its owner alone; one that cannot be written fails Init (-9). An empty file
    /// leaves it to the per-user setting "TraceFile" (and "TraceBodies").
    ///@{
    void Trace(std::string file, bool withBodies = false);
    const std::string& TraceFile() const;
    ///@}
    /// The last schema-validation or service-connection detail text, shared by all clients.
    const std::string& ValidationErrorCodes() const;
    /// The wizard step last reported (0 before the wizard ran).
    int16_t ActiveStepNumber() const;
    /// User-interface language identifier (1033 English, 1031 German, ...); Init sets 1033 when
    /// the component has no texts for it.
    ///@{
    int16_t GUILangID() const;
    void GUILangID(int16_t value);
    ///@}

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace ovk
