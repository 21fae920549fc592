// SPDX-License-Identifier: MIT
#include "service/document_store.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <span>
#include <system_error>
#include <vector>

#include "platform/files.hpp"
#include "platform/memory_writes.hpp"
#include "platform/write_hooks.hpp"
#include "service/journal_io.hpp"

namespace ovk {
namespace fs = std::filesystem;
using journal::Descriptor;
using journal::fnv1a;
using journal::kSector;
using journal::openDescriptor;
using journal::readAt;

namespace {

// Names beside the document "download.xml": ".download.xml" followed by one of these.
constexpr std::string_view kLock = ".ovk-lock";
constexpr std::string_view kJournal = ".ovk-journal";
constexpr std::string_view kCreated = ".ovk-created";
constexpr std::string_view kTemporary = ".ovk-tmp-";  // + six characters of mkstemp
constexpr std::string_view kCopy = ".ovk-copy-";      // + the document's inode number
constexpr std::string_view kPlan = ".ovk-plan";
constexpr std::size_t kAnchor = 64;
constexpr char kMagic[16] = "ovk-journal v1\n";
constexpr std::size_t kRecordFiles = RecordJournal::kMostFiles;

struct JournalHeader {
    char magic[16];
    std::uint64_t device;
    std::uint64_t inode;
    std::uint64_t tailSize;
    std::uint64_t check;  // over the fields above and the tail that follows the header
};

fs::path resolve(const fs::path& path) {
    std::error_code ec;
    fs::path file = fs::canonical(path, ec);
    if (ec) throw files::ioError("Cannot open", path, ec.value(), err::FileNotFound);
    return file;
}

// Six characters as mkstemp makes them.
bool isRandomSuffix(std::string_view text) {
    return text.size() == 6 && std::all_of(text.begin(), text.end(),
                                           [](unsigned char c) { return std::isalnum(c) != 0; });
}

}  // namespace

// Where the tail stood after a commit. Each slot has a sector of its own, so a power cut tears
// at most the one being written; its check tells.
struct DocumentStore::Slot {
    std::uint64_t sequence;
    std::uint64_t tailOffset;
    char boot[40];
    std::uint64_t anchorSize;
    char anchor[kAnchor];  // the bytes just before the tail, to recognise the file
    std::uint64_t check;
    // Where the journalled record files' runs ended (RecordJournal::ends()). Journals of
    // earlier releases end their slots at the check above, so these have a check of their own.
    std::uint64_t recordCount;
    std::uint64_t recordEnds[kRecordFiles];
    std::uint64_t recordsCheck;

    bool whole() const { return check == fnv1a(this, offsetof(Slot, check)); }
    bool knowsRecords() const {
        return recordsCheck == fnv1a(this, offsetof(Slot, recordsCheck)) &&
               recordCount <= kRecordFiles;
    }
};

// Slots 0 and 1 take turns holding the last state known to be on disk; slots 2 and 3 take
// turns holding the last commits, which only the same boot can rely on. Taking turns, a slot
// torn by a crash in the middle of its write leaves the one before it.
constexpr int kFirstLatest = 2;
constexpr int kSlots = 4;

DocumentStore::DocumentStore(const fs::path& path)
    : path_(path), file_(resolve(path)), plan_(sibling(kPlan), file_) {
    lock();
    try {
        repair();
    } catch (...) {
        unlock();
        throw;
    }
}

DocumentStore::~DocumentStore() {
    try {
        endAppends();
    } catch (...) {
        // The journal stays; the next run that takes the document applies it.
    }
    unlock();
}

fs::path DocumentStore::sibling(std::string_view suffix) const {
    return file_.parent_path() / ("." + file_.filename().string() + std::string(suffix));
}

void DocumentStore::lock() {
    const fs::path name = sibling(kLock);
    // A lock file removed by the holder that just released it may still be what we opened:
    // then the lock taken is on a name that is gone, and the file is opened afresh.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = openDescriptor(name, O_RDWR | O_CREAT | O_NOFOLLOW);
        if (fd < 0) throw files::ioError("Cannot create the lock file", name, errno);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int errnum = errno;
            ::close(fd);
            if (errnum == EWOULDBLOCK) throw inUse();
            throw files::ioError("Cannot lock", name, errnum);
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::lstat(name.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            lock_ = fd;
            lockInode();
            return;
        }
        ::close(fd);
    }
    throw files::ioError("Cannot lock", name, EAGAIN);
}

void DocumentStore::lockInode() {
    // A name in another folder has a lock file of its own, so a file with other hard links is
    // locked itself as well. Such a file is written in place, never replaced, so the lock stays
    // on the document for as long as it is held.
    struct stat st {};
    if (::stat(file_.c_str(), &st) != 0 || st.st_nlink <= 1) return;
    const int fd = openDescriptor(file_, O_RDONLY | O_NOFOLLOW);
    // Unreadable: Init and the download say so on their own.
    if (fd < 0) return;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        inodeLock_ = fd;
        return;
    }
    const int errnum = errno;
    ::close(fd);
    unlock();
    if (errnum == EWOULDBLOCK) throw inUse();
    throw files::ioError("Cannot lock", file_, errnum);
}

DocumentInUse DocumentStore::inUse() const {
    return DocumentInUse(err::PermissionDenied,
                         "The download file " + path_.string() +
                             " is in use by another download. Wait until it has finished, then "
                             "try again.");
}

void DocumentStore::unlock() noexcept {
    if (inodeLock_ >= 0) ::close(inodeLock_);
    inodeLock_ = -1;
    if (lock_ < 0) return;
    // Removed while still held, so nobody can lock the old file after we let go of it.
    ::unlink(sibling(kLock).c_str());
    ::close(lock_);
    lock_ = -1;
}

void DocumentStore::syncFolder() const {
    Descriptor folder(openDescriptor(file_.parent_path(), O_RDONLY | O_DIRECTORY));
    if (folder.fd < 0 || files::syncFile(folder.fd, file_.parent_path()) != 0)
        throw files::ioError("Cannot flush the folder of", file_, errno);
}

void DocumentStore::repair() {
    struct stat st {};
    if (::stat(file_.c_str(), &st) != 0)
        throw files::ioError("Cannot open", path_, errno, err::FileNotFound);
    const std::string copyPrefix = "." + file_.filename().string() + std::string(kCopy);
    const std::string own = copyPrefix + std::to_string(st.st_ino);
    std::error_code ec;
    bool copied = false;
    for (fs::directory_iterator it(file_.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(copyPrefix)) continue;
        // A complete copy for this very file means a crash interrupted its copying in.
        if (name == own && !copied) {
            finishCopy(it->path());
            copied = true;
        } else {
            fs::remove(it->path(), ec);
        }
    }
    if (copied) {
        fs::remove(sibling(kJournal), ec);
        fs::remove(sibling(kCreated), ec);
        syncFolder();
    } else {
        undoFromJournal();
    }
    removeLeftovers(file_);
    const fs::path named = fs::absolute(path_, ec);
    if (named != file_) removeLeftovers(named);
    // The payload files are written beside the name the host gave. Their leftovers may belong
    // to a download of another document in the same folder, so only old ones go.
    files::removeWriteLeftovers(named.parent_path());
}

void DocumentStore::finishCopy(const fs::path& copy) {
    Descriptor from(openDescriptor(copy, O_RDONLY | O_NOFOLLOW));
    if (from.fd < 0) throw files::ioError("Cannot open", copy, errno);
    Descriptor to(openDescriptor(file_, O_WRONLY | O_NOFOLLOW));
    if (to.fd < 0) throw files::ioError("Cannot write", file_, errno);
    std::vector<char> block(std::size_t{1} << 20);
    off_t offset = 0;
    for (;;) {
        const ssize_t got = ::read(from.fd, block.data(), block.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw files::ioError("Cannot read", copy, errno);
        if (got == 0) break;
        if (const int errnum = writeAt(
                to.fd, std::string_view(block.data(), static_cast<std::size_t>(got)), offset))
            throw files::ioError("Cannot write", file_, errnum);
        offset += got;
    }
    if (::ftruncate(to.fd, offset) != 0) throw files::ioError("Cannot write", file_, errno);
    if (files::syncFile(to.fd, file_) != 0) throw files::ioError("Cannot flush", file_, errno);
    std::error_code ec;
    fs::remove(copy, ec);
}

void DocumentStore::undoFromJournal() {
    const fs::path name = sibling(kJournal);
    Descriptor journal(openDescriptor(name, O_RDONLY | O_NOFOLLOW));
    if (journal.fd < 0) {
        if (errno != ENOENT) throw files::ioError("Cannot open", name, errno);
        // The journal ended with every article it covered kept: so were their files.
        return removeCreatedSince(std::nullopt);
    }
    const auto discard = [&] {
        removeCreatedSince(std::nullopt);
        std::error_code ec;
        fs::remove(name, ec);
        syncFolder();
    };
    const std::optional<std::string> tail = journalledTail(journal.fd);
    if (!tail) return discard();
    const off_t slotsAt = static_cast<off_t>((sizeof(JournalHeader) + tail->size() + kSector - 1) /
                                             kSector * kSector);
    const off_t recordsAt = slotsAt + kSlots * static_cast<off_t>(kSector);
    // A journal without a tail was made for the records of the first article before the
    // document was first saved: there is no state of the document to restore.
    if (tail->empty()) {
        if (!RecordJournal::undo(journal.fd, recordsAt, 0))
            RecordJournal::undoAfterRestart(journal.fd, recordsAt, {});
        removeCreatedSince(0);
        return discard();
    }
    const std::optional<Slot> chosen = latestTrusted(journal.fd, slotsAt);
    if (!chosen || !restoreTail(*chosen, *tail)) return discard();
    // The records and the new files of the articles undone go with them.
    if (journal::thisBoot(chosen->boot, sizeof chosen->boot)) {
        RecordJournal::undo(journal.fd, recordsAt, chosen->sequence);
    } else if (chosen->knowsRecords()) {
        RecordJournal::undoAfterRestart(journal.fd, recordsAt,
                                        std::span(chosen->recordEnds, chosen->recordCount));
    }
    removeCreatedSince(chosen->sequence);
    discard();
}

std::optional<std::string> DocumentStore::journalledTail(int journal) const {
    // A journal only ever appears whole (it is renamed into place), so a header that does not
    // read back is not ours: it says nothing about the document.
    JournalHeader header{};
    if (readAt(journal, &header, sizeof header, 0) != 0 ||
        std::memcmp(header.magic, kMagic, sizeof kMagic) != 0 || header.tailSize > (1u << 30))
        return std::nullopt;
    std::string tail(header.tailSize, '\0');
    if (readAt(journal, tail.data(), tail.size(), sizeof header) != 0 ||
        header.check !=
            fnv1a(tail.data(), tail.size(), fnv1a(&header, offsetof(JournalHeader, check))))
        return std::nullopt;
    struct stat st {};
    if (::stat(file_.c_str(), &st) != 0) throw files::ioError("Cannot open", file_, errno);
    // Another file now stands at the name: the journal was about the one it replaced, and the
    // records appended for it belong to the articles the new file holds.
    if (st.st_dev != header.device || st.st_ino != header.inode) return std::nullopt;
    return tail;
}

std::optional<DocumentStore::Slot> DocumentStore::latestTrusted(int journal, off_t slotsAt) {
    std::optional<Slot> chosen;
    for (int i = 0; i < kSlots; ++i) {
        // The last slot of a journal from an earlier release may end the file before the
        // record ends would.
        Slot slot{};
        std::size_t got = 0;
        if (files::readUpTo(journal, &slot, sizeof(Slot), slotsAt + i * static_cast<off_t>(kSector),
                            got) != 0 ||
            got < offsetof(Slot, recordCount) || !slot.whole())
            continue;
        const bool trusted = i < kFirstLatest || journal::thisBoot(slot.boot, sizeof slot.boot);
        if (trusted && (!chosen || slot.sequence > chosen->sequence)) chosen = slot;
    }
    return chosen;
}

bool DocumentStore::restoreTail(const Slot& state, std::string_view tail) {
    Descriptor document(openDescriptor(file_, O_RDWR | O_NOFOLLOW));
    if (document.fd < 0) throw files::ioError("Cannot write", file_, errno);
    struct stat st {};
    if (::fstat(document.fd, &st) != 0) throw files::ioError("Cannot open", file_, errno);
    const off_t at = static_cast<off_t>(state.tailOffset);
    std::string before(state.anchorSize, '\0');
    const bool same = state.anchorSize <= kAnchor && st.st_size >= at &&
                      at >= static_cast<off_t>(before.size()) &&
                      readAt(document.fd, before.data(), before.size(),
                             at - static_cast<off_t>(before.size())) == 0 &&
                      std::memcmp(before.data(), state.anchor, before.size()) == 0;
    // The bytes before the tail are not those the journal saw: somebody rewrote the file since.
    if (!same) return false;
    if (const int errnum = writeAt(document.fd, tail, at))
        throw files::ioError("Cannot write", file_, errnum);
    if (::ftruncate(document.fd, at + static_cast<off_t>(tail.size())) != 0)
        throw files::ioError("Cannot write", file_, errno);
    if (files::syncFile(document.fd, file_) != 0)
        throw files::ioError("Cannot flush", file_, errno);
    return true;
}

void DocumentStore::removeLeftovers(const fs::path& beside) const {
    // We hold the document, so whatever temporary file of it exists was left by a run that
    // ended without cleaning up: its age does not matter. Earlier releases named the Finish
    // copy "." + name + "." + six characters and left it readable by its owner alone.
    const std::string base = "." + beside.filename().string();
    std::error_code ec;
    for (fs::directory_iterator it(beside.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(base)) continue;
        const std::string_view rest = std::string_view(name).substr(base.size());
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        const bool ours =
            rest.starts_with(kTemporary) && isRandomSuffix(rest.substr(kTemporary.size()));
        const bool earlier = rest.size() == 7 && rest[0] == '.' && isRandomSuffix(rest.substr(1)) &&
                             (st.st_mode & 07777) == 0600;
        if (ours || earlier) fs::remove(it->path(), ec);
    }
}

void DocumentStore::replace(const std::function<void(int fd)>& write) {
    struct stat original {};
    if (::stat(file_.c_str(), &original) != 0)
        throw files::ioError("Cannot open", path_, errno, err::FileNotFound);
    std::string pattern = sibling(std::string(kTemporary) + "XXXXXX").string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) throw files::ioError("Cannot create a temporary file beside", file_, errno);
    const fs::path temp(pattern);
    Descriptor guard(fd);
    // Other names of the file must see the new content too: it is copied in, from a copy that
    // the next run finishes copying should this one be interrupted.
    const bool linked = original.st_nlink > 1;
    const fs::path copy = sibling(std::string(kCopy) + std::to_string(original.st_ino));
    try {
        write(fd);
        if (::fchmod(fd, original.st_mode & 07777) != 0)
            throw files::ioError("Cannot set permissions for", temp, errno);
        // The whole file system, not the file alone: the payload files written beside the
        // document are on disk before a document that names them, and so are the in-place
        // saves the journal protected until now.
        if (files::syncFileSystem(fd, temp) != 0 || files::syncFile(fd, temp) != 0)
            throw files::ioError("Cannot flush", temp, errno);
        if (files::renameFile(temp, linked ? copy : file_) != 0)
            throw files::ioError(linked ? "Cannot write" : "Cannot replace", linked ? copy : file_,
                                 errno);
    } catch (...) {
        std::error_code ec;
        fs::remove(temp, ec);
        // The document is as it was; the journal stays for the records appended since its
        // last commit, and the next save writes the document whole.
        if (document_ >= 0) ::close(document_);
        document_ = -1;
        throw;
    }
    // The new content holds every article whose records were appended: the journal, which
    // would undo them, goes. Until the rename it named the old file, or until the copy existed
    // the copy's absence; a crash before either undid them with the article.
    dropJournal();
    syncFolder();
    if (linked) {
        finishCopy(copy);
        syncFolder();
    }
}

void DocumentStore::beginAppends(off_t tailOffset, std::string tail) {
    dropJournal();
    document_ = openDescriptor(file_, O_RDWR | O_NOFOLLOW);
    if (document_ < 0) throw files::ioError("Cannot write", file_, errno);
    struct stat st {};
    if (::fstat(document_, &st) != 0) {
        const int errnum = errno;
        ::close(document_);
        document_ = -1;
        throw files::ioError("Cannot open", file_, errnum);
    }
    tail_ = std::move(tail);
    committed_ = tailOffset;
    try {
        // Both checkpoint slots and the latest ones describe the file as it is now, which
        // replace() has put on disk.
        const Slot slot = slotFor(tailOffset);
        makeJournal(st, tail_, &slot);
    } catch (...) {
        ::close(document_);
        document_ = -1;
        throw;
    }
    checkpoints_.markFlushed(std::chrono::steady_clock::now());
}

void DocumentStore::makeJournal(const struct stat& document, std::string_view tail,
                                const Slot* state) {
    // The journal is made whole under a temporary name and renamed into place, so it exists
    // only complete.
    JournalHeader header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.device = document.st_dev;
    header.inode = document.st_ino;
    header.tailSize = tail.size();
    header.check = fnv1a(tail.data(), tail.size(), fnv1a(&header, offsetof(JournalHeader, check)));
    slotsAt_ = static_cast<off_t>((sizeof header + tail.size() + kSector - 1) / kSector * kSector);

    std::string pattern = sibling(std::string(kTemporary) + "XXXXXX").string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) throw files::ioError("Cannot create a temporary file beside", file_, errno);
    journal_ = fd;
    const fs::path temp(pattern);
    try {
        std::string head(reinterpret_cast<const char*>(&header), sizeof header);
        head += tail;
        if (const int errnum = writeAt(journal_, head, 0))
            throw files::ioError("Cannot write", temp, errnum);
        if (state != nullptr) {
            for (int i = 0; i < kSlots; ++i) writeSlot(i, *state);
        }
        if (files::syncFile(journal_, temp) != 0) throw files::ioError("Cannot flush", temp, errno);
        if (files::renameFile(temp, sibling(kJournal)) != 0)
            throw files::ioError("Cannot write", sibling(kJournal), errno);
        syncFolder();
    } catch (...) {
        std::error_code ec;
        fs::remove(temp, ec);
        ::close(journal_);
        journal_ = -1;
        throw;
    }
    records_.attach(journal_, sibling(kJournal), slotsAt_ + kSlots * static_cast<off_t>(kSector),
                    state != nullptr ? state->sequence : 0);
}

void DocumentStore::dropJournal() {
    // Whatever the checkpoint under way finds, the journal and what it guards are done with.
    awaitCheckpoint();
    if (document_ >= 0) ::close(document_);
    document_ = -1;
    if (journal_ < 0) return;
    ::close(journal_);
    journal_ = -1;
    records_.detach();
    std::error_code ec;
    fs::remove(sibling(kJournal), ec);
    // Without the journal, the files it listed belong to articles kept.
    if (created_ >= 0) {
        ::close(created_);
        created_ = -1;
        fs::remove(sibling(kCreated), ec);
    }
}

std::string DocumentStore::temporaryPrefix(const fs::path& path) {
    return "." + path.filename().string() + std::string(kTemporary);
}

void DocumentStore::fileCreated(const fs::path& file) {
    if (journal_ < 0) {
        struct stat st {};
        if (::stat(file_.c_str(), &st) != 0)
            throw files::ioError("Cannot open", path_, errno, err::FileNotFound);
        makeJournal(st, {}, nullptr);
    }
    const fs::path name = sibling(kCreated);
    if (created_ < 0) {
        created_ = openDescriptor(name, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW);
        if (created_ < 0) throw files::ioError("Cannot write", name, errno);
    }
    // The state the file's article continues, then the path; a path never holds a NUL.
    const std::uint64_t after = appending() ? sequence_ : 0;
    std::string entry(reinterpret_cast<const char*>(&after), sizeof after);
    entry += fs::absolute(file).string();
    entry += '\0';
    if (const int errnum = append(created_, entry))
        throw files::ioError("Cannot write", name, errnum);
}

void DocumentStore::removeCreatedSince(std::optional<std::uint64_t> state) const {
    const fs::path name = sibling(kCreated);
    std::string log;
    if (state) {
        Descriptor fd(openDescriptor(name, O_RDONLY | O_NOFOLLOW));
        if (fd.fd < 0 && errno != ENOENT) throw files::ioError("Cannot open", name, errno);
        struct stat st {};
        if (fd.fd >= 0 && ::fstat(fd.fd, &st) == 0) {
            log.resize(static_cast<std::size_t>(st.st_size));
            if (const int errnum = readAt(fd.fd, log.data(), log.size(), 0))
                throw files::ioError("Cannot read", name, errnum);
        }
    }
    // An entry torn by the crash has no NUL yet: its file was never made.
    for (std::size_t at = 0; at + sizeof(std::uint64_t) < log.size();) {
        const std::size_t end = log.find('\0', at + sizeof(std::uint64_t));
        if (end == std::string::npos) break;
        std::uint64_t after = 0;
        std::memcpy(&after, log.data() + at, sizeof after);
        const fs::path file(log.substr(at + sizeof after, end - at - sizeof after));
        struct stat st {};
        if (after >= *state && ::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::unlink(file.c_str()) != 0 && errno != ENOENT)
            throw files::ioError("Cannot remove", file, errno);
        at = end + 1;
    }
    std::error_code ec;
    fs::remove(name, ec);
}

int DocumentStore::appendRecord(int fd, const fs::path& file, std::string_view bytes,
                                bool created) {
    // The first article's records come before the document's first save: a journal without a
    // state of the document covers them until then.
    if (journal_ < 0) {
        struct stat st {};
        if (::stat(file_.c_str(), &st) != 0)
            throw files::ioError("Cannot open", path_, errno, err::FileNotFound);
        makeJournal(st, {}, nullptr);
    }
    return records_.append(fd, file, bytes, created);
}

DocumentStore::Slot DocumentStore::slotFor(off_t tailOffset) {
    Slot slot{};
    slot.sequence = ++sequence_;
    slot.tailOffset = static_cast<std::uint64_t>(tailOffset);
    const std::string& boot = journal::bootId();
    std::memcpy(slot.boot, boot.data(), std::min(boot.size(), sizeof slot.boot - 1));
    slot.anchorSize = static_cast<std::uint64_t>(std::min<off_t>(tailOffset, kAnchor));
    if (const int errnum = readAt(document_, slot.anchor, slot.anchorSize,
                                  tailOffset - static_cast<off_t>(slot.anchorSize)))
        throw files::ioError("Cannot read", file_, errnum);
    const std::vector<off_t> ends = records_.ends();
    slot.recordCount = std::min(ends.size(), kRecordFiles);
    for (std::size_t i = 0; i < slot.recordCount; ++i)
        slot.recordEnds[i] = static_cast<std::uint64_t>(ends[i]);
    slot.check = fnv1a(&slot, offsetof(Slot, check));
    slot.recordsCheck = fnv1a(&slot, offsetof(Slot, recordsCheck));
    return slot;
}

void DocumentStore::writeSlot(int index, const Slot& slot) {
    const std::string_view bytes(reinterpret_cast<const char*>(&slot), sizeof slot);
    if (const int errnum = writeAt(journal_, bytes, slotsAt_ + index * static_cast<off_t>(kSector)))
        throw files::ioError("Cannot write", sibling(kJournal), errnum);
}

void DocumentStore::commit(off_t tailOffset) {
    if (!appending()) throw Error(err::InvalidArgument, "The download file is not being saved");
    const Slot slot = slotFor(tailOffset);
    writeSlot(kFirstLatest + static_cast<int>(slot.sequence % 2), slot);
    committed_ = tailOffset;
    records_.committed(slot.sequence);
    throwIfFailed(checkpoints_.takeFailure());
    // What is committed is on disk first, and only then may the journal point at it. The flush
    // runs beside the saves that follow: they write only at or behind this state's tail, so the
    // bytes the checkpoint relies on stay as flushed. It is due a flush interval after the one
    // before, so that a flush per save does not cost more than the saves themselves, and it
    // comes then whether or not another save follows.
    auto flush = [document = document_, journal = journal_, file = file_,
                  journalName = sibling(kJournal), slot,
                  at = slotsAt_ +
                       static_cast<off_t>(slot.sequence % 2) * static_cast<off_t>(kSector)] {
        if (files::syncFileSystem(document, file) != 0) return CheckpointResult{errno, false};
        const std::string_view bytes(reinterpret_cast<const char*>(&slot), sizeof slot);
        if (const int errnum = writeAt(journal, bytes, at)) return CheckpointResult{errnum, true};
        if (files::syncData(journal, journalName) != 0) return CheckpointResult{errno, true};
        return CheckpointResult{};
    };
    const auto now = std::chrono::steady_clock::now();
    const auto due = std::max(now, checkpoints_.lastStarted() + kFlushInterval);
    try {
        checkpoints_.schedule(flush, due);
    } catch (const std::system_error&) {
        // No thread to spare (a process at its limit): a flush that is due is made here.
        if (due > now) return;
        checkpoints_.markFlushed(now);
        throwIfFailed(flush());
    }
}

void DocumentStore::throwIfFailed(const CheckpointResult& checkpoint) const {
    if (checkpoint.errnum == 0) return;
    throw files::ioError(checkpoint.journal ? "Cannot write" : "Cannot flush",
                         checkpoint.journal ? sibling(kJournal) : file_, checkpoint.errnum);
}

DocumentStore::CheckpointResult DocumentStore::awaitCheckpoint() noexcept {
    return checkpoints_.finish();
}

void DocumentStore::rollback() noexcept {
    if (!appending()) return;
    if (writeAt(document_, tail_, committed_) == 0 &&
        ::ftruncate(document_, committed_ + static_cast<off_t>(tail_.size())) == 0)
        files::syncData(document_, file_);
}

void DocumentStore::endAppends() {
    // A failed checkpoint needs no word of its own: the flush below fails the same way.
    awaitCheckpoint();
    if (journal_ < 0) return;
    // The journal goes only once what it protects is on disk: without it, a power cut could
    // leave a half-flushed save that nothing can undo. Records appended for an article whose
    // save failed stay: the article is still in memory, and a later save may write it.
    if (files::syncFileSystem(journal_, sibling(kJournal)) != 0) {
        const int errnum = errno;
        if (document_ >= 0) ::close(document_);
        ::close(journal_);
        document_ = journal_ = -1;
        records_.detach();
        throw files::ioError("Cannot flush", file_, errnum);
    }
    dropJournal();
    syncFolder();
}

int DocumentStore::writeAt(int fd, std::string_view bytes, off_t offset) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t allowed = files::writableNow(bytes.size() - done);
        if (const int errnum = files::writeFromMemory(fd, bytes.substr(done, allowed),
                                                      offset + static_cast<off_t>(done))) {
            return errnum;
        }
        done += allowed;
    }
    return 0;
}

int DocumentStore::append(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t allowed = files::writableNow(bytes.size() - done);
        const ssize_t written = ::write(fd, bytes.data() + done, allowed);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return errno;
        done += static_cast<std::size_t>(written);
    }
    return 0;
}

}  // namespace ovk
