// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ovk {

// The plan of a download, kept beside its document so that a download that stopped (by the
// user's wish, a failure that persisted, a kill or a power cut) can be continued from the next
// article: the articles it downloads, in order, and how far it got. The DocumentStore owns it:
// it is written, checked and removed only while the document is held.
//
// On disk (".download.xml.ovk-plan", mode 0600): a header with the document as it stood when
// the download began (device, inode, size, modification time), the article identifiers and a
// check, written whole under a temporary name and renamed into place. Then one progress record
// per article the download got through, each in a place of its own: how many articles the
// document then holds, where its tail (Project's end tag and what follows) starts, the bytes
// just before it and the tail's length and hash. A record is written before the save it
// describes is committed, so whatever state a crash leaves the document in once it is
// repaired, a record describes it; after a power cut the flush of the checkpoint has put the
// records up to it on disk too. A record that describes no state of the document on disk is
// simply not used.
class DownloadPlan {
  public:
    // The plan file `plan` for the document `document` (links followed).
    DownloadPlan(std::filesystem::path plan, std::filesystem::path document);
    ~DownloadPlan();
    DownloadPlan(const DownloadPlan&) = delete;
    DownloadPlan& operator=(const DownloadPlan&) = delete;

    // Replaces any plan by one for a new download of `ids`, which has saved nothing yet. Throws
    // Error naming the file when it cannot be written.
    void start(const std::vector<std::string>& ids);
    // Carries on with the plan on disk (a continued download): later records add to it.
    void resume();
    // The next record written says that the document holds `done` articles.
    void reaching(std::uint64_t done) noexcept { pending_ = done; }
    // Records that the document written through `fd` ends with `tail` at `tailOffset` and holds
    // the articles of the last reaching(). Nothing without a plan under way. Throws Error when the
    // record cannot be written.
    void note(int fd, off_t tailOffset, std::string_view tail);
    // The download has finished, or the plan describes nothing: it goes.
    void remove() noexcept;

    // What the plan says about the document as it is on disk.
    struct State {
        std::vector<std::string> ids;
        std::uint64_t done = 0;
        // Where the document's tail starts; -1 when the download saved nothing yet and the
        // document is as the host left it.
        off_t tailOffset = -1;
    };
    // The state of the download the document is in, or nothing when there is no plan or the
    // document is no longer the one the plan belongs to (then the plan is removed without a
    // word, and the next download starts anew).
    std::optional<State> check();

  private:
    std::filesystem::path plan_;
    std::filesystem::path document_;
    int fd_ = -1;
    off_t recordsAt_ = 0;
    std::uint64_t pending_ = 0;
};

}  // namespace ovk
