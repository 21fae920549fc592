// The last request of a Finish: the download file, as the item requests saved it, is tidied
// and rewritten in its final form, then the host is told that the download is complete. A
// failure here has no trap: it reaches the wizard, and the file keeps its last saved state.

#include "component/client_impl.hpp"
#include "service/finish_rewrite.hpp"

namespace ovk {

void Client::Impl::Finish() {
    RewriteDownloadFile(DownloadFile);
    raiseDownloadComplete();
}

}  // namespace ovk
