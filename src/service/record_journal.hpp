// SPDX-License-Identifier: MIT
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

namespace ovk {

// The record files' part of the download document's journal (see DocumentStore and
// docs/download-document-store.md). Symbol and GER records are appended to files that other
// programs may append to as well, so nothing may ever be cut from them that this download did
// not write. Before each append an *intent* says, per record file, where the bytes that are
// surely not ours end (`keep`), where our own run of appends since the document's last commit
// ends, a hash of that run, and the bytes of the append in flight. A repair that restores the
// document's state the intent continues cuts a file back to `keep` only when the bytes after it
// are exactly that run, or that run with a prefix of the append in flight (a torn record).
// Intents live in the page cache only: a crash of the process is undone by them; after a power
// failure the record files are cut back to the lengths the last checkpoint kept.
class RecordJournal {
  public:
    // The record files a journal covers: the symbol file and the GER file, with room to spare.
    static constexpr std::size_t kMostFiles = 4;

    // The bytes the part takes in the journal before the append in flight.
    static off_t fixedSize();

    // Records into the journal `journal` (named `name`) from `at` on. What was appended before
    // is committed; appends from now on continue the document's state `after`.
    void attach(int journal, const std::filesystem::path& name, off_t at, std::uint64_t after);
    // The journal is gone: what was appended stays.
    void detach();
    bool attached() const { return journal_ >= 0; }
    // The document's state `sequence` holds every article whose records were appended so far.
    void committed(std::uint64_t sequence);

    // Appends `bytes` to the record file open at `fd` (with O_APPEND) that lives at `path` and
    // was `created` empty for this append. Returns 0 or the error number of the append, whose
    // bytes are then cut off again; throws Error when the journal cannot be written.
    int append(int fd, const std::filesystem::path& path, std::string_view bytes, bool created);

    // Where the runs of the record files end now, in the order the journal names the files:
    // what a checkpoint keeps, so that a repair after a restart can cut back to it.
    std::vector<off_t> ends() const;

    // The repair: by the intents of the journal `journal` (part at `at`), cuts off what was
    // appended after the document's state `after`, which the repair has just restored. False
    // when no intent of this boot is there to go by.
    static bool undo(int journal, off_t at, std::uint64_t after);
    // The repair after a restart, when the intents are lost with the page cache: cuts every
    // record file the journal names back to the length `ends` gives for it, one first appended
    // to after that state back to where it stood then (a file made for the download goes).
    // Whatever follows is gone with the power: records of undone articles, a torn record, or
    // the zeros of blocks that were never written. Another program's lines appended after that
    // state go too, since nothing that survived the restart tells them from ours.
    static void undoAfterRestart(int journal, off_t at, std::span<const std::uint64_t> ends);

  private:
    struct File {
        dev_t device;
        ino_t inode;
        off_t keep;   // what lies before is not ours to cut
        off_t start;  // where the last append began
        off_t end;    // where our run of appends ends
        bool created;
        std::uint64_t hashBefore;  // of [keep, start)
        std::uint64_t hashAll;     // of [keep, end)
    };
    struct Intent;
    struct Name;

    File* enter(const struct stat& st, const std::filesystem::path& path, bool created);
    void writeIntent(std::size_t writing);
    void writeJournal(std::string_view bytes, off_t offset) const;

    int journal_ = -1;
    std::filesystem::path name_;
    off_t at_ = 0;
    std::uint64_t after_ = 0;
    std::uint64_t intents_ = 0;
    std::vector<File> files_;
};

}  // namespace ovk
