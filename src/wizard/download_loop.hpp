// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ovk {

class WizardEvents;

// A request to stop a running download, which may come from any thread (a host's signal
// handler thread, a button): the download loop reads it between articles. It stays set until a
// loop has acted on it or the call that may run a download ends, so that a request made while
// the loop is about to start is not lost.
class DownloadStop {
  public:
    void request() noexcept { requested_.store(true); }
    // The same, from outside the calls that run downloads: nothing while none runs, so that a
    // request at an idle moment cannot stop the next download before it starts.
    void requestIfRunning() noexcept {
        if (running_.load() > 0) request();
    }
    bool requested() const noexcept { return requested_.load(); }
    void clear() noexcept { requested_.store(false); }

    // Marks a call that may run a download (Show, ContinueDownload) while it lasts; a request
    // not acted on goes with it.
    class Running {
      public:
        explicit Running(DownloadStop& stop) : stop_(stop) { ++stop_.running_; }
        ~Running() {
            if (--stop_.running_ == 0) stop_.clear();
        }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

      private:
        DownloadStop& stop_;
    };

  private:
    std::atomic<bool> requested_{false};
    std::atomic<int> running_{0};
};

// The Finish loop: the structure request and the download's plan (for a new download), one item
// request per article from `done` on, in order, then Finish; or, when a stop was asked, Cancel
// right after the article being fetched. The wizard's Finish and every caller that downloads
// without the wizard run this one loop, so a stop and a continued download behave alike
// everywhere.
struct DownloadRun {
    std::vector<std::string> ids;  // every article of the download, in order
    std::size_t done = 0;          // articles already saved by an earlier run
    bool structure = true;         // a new download: the structure request comes first
};

enum class DownloadOutcome { Finished, Stopped };

// What the caller shows while the loop runs; either may be empty.
struct DownloadProgress {
    // After the structure request (at once when continuing), before the first item.
    std::function<void()> started;
    // Before the item at `position` (1-based, counting the articles done before) is requested:
    // shows progress and lets pending events run, which is where a user's Stop arrives.
    std::function<void(int32_t position)> beforeItem;
    // After the last item the loop requests, before Finish or Cancel.
    std::function<void()> ended;
};

// Runs the loop. Failures of the owner's handlers pass through, after the owner has been told
// that no more items are to come.
DownloadOutcome RunDownload(WizardEvents& owner, const DownloadRun& run, DownloadStop& stop,
                            const DownloadProgress& progress = {});

}  // namespace ovk
