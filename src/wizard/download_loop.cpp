// SPDX-License-Identifier: MIT
#include "wizard/download_loop.hpp"

#include <algorithm>

#include "wizard/frm_wiz.hpp"

namespace ovk {

DownloadOutcome RunDownload(WizardEvents& owner, const DownloadRun& run, DownloadStop& stop,
                            const DownloadProgress& progress) {
    // Whatever was fetched ahead for articles the loop never reached is of no use any more.
    struct Announced {
        WizardEvents& owner;
        bool active = false;
        ~Announced() {
            if (active) owner.ItemsToCome({});
        }
    } announced{owner};
    const auto stopped = [&] {
        if (!stop.requested()) return false;
        stop.clear();
        return true;
    };
    if (!stopped()) {
        if (run.structure) {
            owner.DownloadStructure();
            owner.PlanDownload(run.ids);
        }
        if (progress.started) progress.started();
        const std::vector<std::string> rest(
            run.ids.begin() + static_cast<std::ptrdiff_t>(std::min(run.done, run.ids.size())),
            run.ids.end());
        announced.active = true;
        owner.ItemsToCome(rest);
        auto position = static_cast<int32_t>(run.ids.size() - rest.size());
        bool stopping = false;
        for (const std::string& id : rest) {
            ++position;
            if (progress.beforeItem) progress.beforeItem(position);
            stopping = stopped();
            if (stopping) break;
            owner.DownloadItem(id);
        }
        // A stop asked during the last article ends the loop before Finish: the user asked to
        // keep the download open, and Finish would close it.
        if (!stopping) stopping = stopped();
        if (progress.ended) progress.ended();
        if (!stopping) {
            announced.active = false;
            owner.ItemsToCome({});
            owner.Finish();
            return DownloadOutcome::Finished;
        }
    }
    owner.Cancel();
    return DownloadOutcome::Stopped;
}

}  // namespace ovk
