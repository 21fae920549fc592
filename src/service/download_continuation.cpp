// The download's plan beside the document, and continuing a download that stopped before its
// end from the next article, on the file as the stopped run left it.

#include "component/client_impl.hpp"
#include "document/download_document.hpp"
#include "platform/errors.hpp"
#include "service/download_session.hpp"

namespace ovk {

void Client::Impl::PlanDownload(const std::vector<std::string>& MaterialIds) {
    if (!MyXMLDocument) return;
    // The structure request has taken the document; a new plan replaces the last one.
    download().hold(DownloadFile).plan().start(MaterialIds);
    downloadPosition = 0;
}

std::optional<DownloadPlan::State> Client::Impl::unfinishedDownload() {
    if (DownloadFile.empty()) return std::nullopt;
    DownloadSession& session = download();
    const bool held = session.holds(DownloadFile);
    std::optional<DownloadPlan::State> state = session.hold(DownloadFile).plan().check();
    if (!held) session.release();
    return state;
}

DownloadRun Client::Impl::resumeDownload(const DownloadPlan::State& state) {
    DownloadRun run{state.ids, static_cast<std::size_t>(state.done), state.tailOffset < 0};
    // Nothing saved yet: the download starts over, structure request first, on the document as
    // the host left it.
    if (run.structure) return run;
    // The document in memory must be the file's: once a download has changed it since Init,
    // it is read again.
    if (!lastItemsStandIn || !MyXMLDocument)
        MyXMLDocument = std::make_shared<xml::Document>(LoadDownloadDocument(DownloadFile));
    xml::Node project = MyXMLDocument->firstElementByName("Project");
    if (!project) throw Error(err::ObjectMissing, "The download document has no Project");
    DownloadSession& session = download();
    DocumentStore& store = session.hold(DownloadFile);
    session.downloadFile.resume(MyXMLDocument, project, store, state.tailOffset);
    store.plan().resume();
    // The saved articles' payloads stand in for the file's in memory, but the continued saves
    // only append after them and never write the document whole.
    lastItemsStandIn = false;
    downloadPosition = state.done;
    return run;
}

}  // namespace ovk
