// SPDX-License-Identifier: MIT
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/errors.hpp"
#include "service/checkpoint_flusher.hpp"
#include "service/download_plan.hpp"
#include "service/record_journal.hpp"

namespace ovk {

// Another download holds the document.
struct DocumentInUse : Error {
    using Error::Error;
};

// The download document on disk: the one place that knows how its bytes reach the disk and how
// an interrupted run is repaired. docs/download-document-store.md tells the same in prose: the
// files beside the document, what is on disk after each step, what a crash or a power failure
// leaves and how the next run puts it right.
//
// Holding a DocumentStore means holding the document. An exclusive lock on a lock file beside it
// (and, for a file with other hard links, on the file itself) keeps every other download of the
// same document out, in this process or another, whatever name it uses, until the store goes
// away. On taking the document the store first finishes or undoes what an interrupted run
// left: an unfinished copy into a linked file, a journal of an in-place save and of the records
// appended for the articles it undoes, temporary files.
//
// The document is written where it lives: a symbolic link is followed and the files of the
// protocol lie beside its target; a file with other hard links is overwritten in place from a
// complete copy (which the next run finishes copying when a crash interrupts it) instead of being
// replaced, so that every name of it sees the new content.
class DocumentStore {
  public:
    // Takes the document at `path` and repairs it. Throws DocumentInUse when another download
    // holds it, FileNotFound when it does not exist, an I/O error when the lock or the repair
    // cannot be written.
    explicit DocumentStore(const std::filesystem::path& path);
    ~DocumentStore();
    DocumentStore(const DocumentStore&) = delete;
    DocumentStore& operator=(const DocumentStore&) = delete;

    // The path as it was given, and the file the document lives in (links followed).
    const std::filesystem::path& path() const { return path_; }
    const std::filesystem::path& file() const { return file_; }

    // The plan of the download, beside the document (see DownloadPlan).
    DownloadPlan& plan() { return plan_; }

    // Replaces the whole content by what `write` writes, with writeAt from offset 0, into the
    // descriptor of a new file beside the document. The content is flushed to disk before it
    // takes the document's place, so a crash or a power failure leaves the old content or the
    // new one. Ends any in-place saving. Throws Error naming the file and the cause.
    void replace(const std::function<void(int fd)>& write);

    // In-place saving. The file holds `tail` from `tailOffset` to its end; from now on it may be
    // written in place from the tail's offset on, through appendDescriptor(). After each change
    // commit() says where the tail stands now: until then a crash is undone back to the last
    // commit. rollback() does the same at once, for a save that failed.
    void beginAppends(off_t tailOffset, std::string tail);
    bool appending() const { return document_ >= 0; }
    int appendDescriptor() const { return document_; }
    void commit(off_t tailOffset);
    void rollback() noexcept;

    // Appends a record to the symbol or GER file open at `fd` (with O_APPEND), which lives at
    // `file` (an absolute path, links followed) and was `created` empty for it. Journalled with
    // the document: a crash before the next commit or replace() cuts it off again, with every
    // record appended since the last one, as long as no other program appended after them.
    // Returns 0 or the error number of the append, whose bytes are then cut off again; throws
    // Error when the journal cannot be written.
    int appendRecord(int fd, const std::filesystem::path& file, std::string_view bytes,
                     bool created);

    // Called before a payload file that did not exist is made (at `file`, beside the document):
    // a crash before the next commit or replace() removes it again with its article. Throws
    // Error when the list of such files cannot be written.
    void fileCreated(const std::filesystem::path& file);
    // What the temporary files of payloads beside the document `path` are named after, so that
    // every repair finds and removes those a crash left.
    static std::string temporaryPrefix(const std::filesystem::path& path);

    // The one way the document's bytes, and those of its journal and temporary files, are
    // written: all of `bytes` at `offset`. Returns 0 or the error number.
    static int writeAt(int fd, std::string_view bytes, off_t offset);
    // The same for the records appended to a file open with O_APPEND.
    static int append(int fd, std::string_view bytes);

    // How long a committed save may stay in memory only: the file system is flushed at most
    // once in this time, since a flush per item costs more than fetching a typical item, and a
    // commit is flushed at the latest this long after the flush before it began (or as soon
    // as that flush ends, on a disk slower than that).
    static constexpr std::chrono::seconds kFlushInterval{1};

  private:
    struct Slot;

    void lock();
    void lockInode();
    DocumentInUse inUse() const;
    void unlock() noexcept;
    void repair();
    void finishCopy(const std::filesystem::path& copy);
    void undoFromJournal();
    // The tail the journal open at `journal` keeps for the document; nothing when it is torn or
    // about another file.
    std::optional<std::string> journalledTail(int journal) const;
    // The newest whole slot this run may rely on: a checkpoint, or a latest commit of this boot.
    static std::optional<Slot> latestTrusted(int journal, off_t slotsAt);
    // Puts `tail` back where `state` says; false when the file before it is not what the
    // journal saw.
    bool restoreTail(const Slot& state, std::string_view tail);
    void removeLeftovers(const std::filesystem::path& beside) const;
    // Removes the files made for articles after the document's state `state` (nothing: none)
    // and the list of them.
    void removeCreatedSince(std::optional<std::uint64_t> state) const;
    void endAppends();
    void makeJournal(const struct stat& document, std::string_view tail, const Slot* state);
    void dropJournal();
    void writeSlot(int index, const Slot& slot);
    Slot slotFor(off_t tailOffset);
    void syncFolder() const;
    std::filesystem::path sibling(std::string_view suffix) const;
    // Drops a checkpoint not yet begun and waits for one under way; its failure, if any.
    using CheckpointResult = CheckpointFlusher::Failure;
    CheckpointResult awaitCheckpoint() noexcept;
    void throwIfFailed(const CheckpointResult& checkpoint) const;

    std::filesystem::path path_;
    std::filesystem::path file_;
    int lock_ = -1;
    int inodeLock_ = -1;
    // While saving in place: the document. While there is a journal: its descriptor, what it
    // says, and its part for the record files.
    int document_ = -1;
    int journal_ = -1;
    int created_ = -1;  // the list of payload files made since the journal began
    RecordJournal records_;
    std::string tail_;
    off_t committed_ = 0;
    off_t slotsAt_ = 0;
    std::uint64_t sequence_ = 0;
    DownloadPlan plan_;
    // Declared last: its thread ends before the descriptors its flushes use are gone.
    CheckpointFlusher checkpoints_;
};

}  // namespace ovk
