// SPDX-License-Identifier: MIT
// The download's plan beside the document, and continuing a download that stopped before its
// end from the next article, on the file as the stopped run left it.

#include <sys/stat.h>

#include "component/client_impl.hpp"
#include "document/download_document.hpp"
#include "platform/errors.hpp"
#include "service/download_session.hpp"

namespace ovk {

std::string Client::Impl::fileIdentity(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
           std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec);
}

void Client::Impl::PlanDownload(const std::vector<std::string>& MaterialIds) {
    if (!MyXMLDocument) return;
    // The structure request has taken the document; a new plan replaces the last one.
    download().hold(DownloadFile).plan().start(MaterialIds);
    downloadPosition = 0;
}

std::optional<DownloadPlan::State> Client::Impl::unfinishedDownload(bool keep) {
    if (DownloadFile.empty()) return std::nullopt;
    DownloadSession& session = download();
    const bool held = session.holds(DownloadFile);
    std::optional<DownloadPlan::State> state = session.hold(DownloadFile).plan().check();
    if (!held && !(keep && state)) session.release();
    return state;
}

DownloadRun Client::Impl::resumeDownload(const DownloadPlan::State& state) {
    DownloadRun run{state.ids, static_cast<std::size_t>(state.done), state.tailOffset < 0};
    // Nothing saved yet: the download starts over, structure request first, on the document as
    // the host left it.
    if (run.structure) return run;
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
    return run;
}

}  // namespace ovk
