// SPDX-License-Identifier: MIT
// The download's plan beside the document, and continuing a download that stopped before its
// end from the next article, on the file as the stopped run left it.

#include <sys/stat.h>

#include "document/download_document.hpp"
#include "platform/errors.hpp"
#include "service/download_session.hpp"
#include "service/download_transactions.hpp"

namespace ovk {

DownloadTransactions::DownloadTransactions(const DownloadContext& context)
    : DownloadFile(context.downloadFile),
      MyXMLDocument(context.document),
      settings(context.settings),
      MySoapobject(context.service),
      GUILangID(context.guiLanguage),
      events(context.events) {}

void DownloadTransactions::release() {
    if (downloadSession) downloadSession->release();
}

std::string DownloadTransactions::fileIdentity(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
           std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec);
}

void DownloadTransactions::PlanDownload(const std::vector<std::string>& MaterialIds) {
    if (!MyXMLDocument) return;
    // The structure request has taken the document; a new plan replaces the last one.
    download().hold(DownloadFile).plan().start(MaterialIds);
    downloadPosition = 0;
}

std::optional<DownloadPlan::State> DownloadTransactions::unfinishedDownload(bool keep) {
    if (DownloadFile.empty()) return std::nullopt;
    DownloadSession& session = download();
    const bool held = session.holds(DownloadFile);
    std::optional<DownloadPlan::State> state = session.hold(DownloadFile).plan().check();
    if (!held && !(keep && state)) session.release();
    return state;
}

void DownloadTransactions::resumeDownload(const DownloadPlan::State& state) {
    // The document in memory must be the file's: once a download has changed it since Init,
    // or the file changed, it is read again.
    if (!lastItemsStandIn || !MyXMLDocument || loadedItems.file != fileIdentity(DownloadFile)) {
        loadedItems = {};
        MyXMLDocument = std::make_shared<xml::Document>(
            LoadDownloadDocument(DownloadFile, &loadedItems.sections));
        loadedItems.file = fileIdentity(DownloadFile);
    }
    xml::Node project = MyXMLDocument->firstElementByName("Project");
    if (!project) throw Error(err::ObjectMissing, "The download document has no Project");
    DownloadSession& session = download();
    DocumentStore& store = session.hold(DownloadFile);
    session.downloadFile.resume(MyXMLDocument, project, store, state.tailOffset,
                                loadedItems.sections);
    store.plan().resume();
    // The saved articles' payloads stand in for the file's in memory, but the continued saves
    // only append after them and never write the document whole.
    lastItemsStandIn = false;
    downloadPosition = state.done;
}

}  // namespace ovk
