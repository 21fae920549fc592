// SPDX-License-Identifier: MIT
// The last request of a Finish: the download file, as the item requests saved it, is tidied
// and rewritten in its final form, then the host is told that the download is complete. A
// failure here has no trap: it reaches the wizard, and the file keeps its last saved state;
// the document stays held, for the user may try Finish again.

#include "service/download_session.hpp"
#include "service/download_transactions.hpp"
#include "service/finish_rewrite.hpp"

namespace ovk {

void DownloadTransactions::Finish() {
    DownloadSession& session = download();
    DocumentStore& document = session.hold(DownloadFile);
    RewriteDownloadFile(document, session.downloadFile.savedSections(document));
    // The download is complete: there is nothing left to continue.
    document.plan().remove();
    // Released before the host hears of it: its handler may well start the next run.
    session.release();
    events.raiseDownloadComplete();
}

}  // namespace ovk
