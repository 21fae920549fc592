#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
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
// Intents live in the page cache only: a crash of the process is undone, a power failure is not.
class RecordJournal {
  public:
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

    // The repair: by the intents of the journal `journal` (part at `at`), cuts off what was
    // appended after the document's state `after`, which the repair has just restored.
    static void undo(int journal, off_t at, std::uint64_t after);

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
