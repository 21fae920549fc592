// SPDX-License-Identifier: MIT
#include "service/record_journal.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>

#include "platform/files.hpp"
#include "service/document_store.hpp"
#include "service/journal_io.hpp"

namespace ovk {
namespace fs = std::filesystem;
using journal::fnv1a;
using journal::kHashBasis;
using journal::kSector;
using journal::readAt;

namespace {

constexpr std::size_t kFiles = RecordJournal::kMostFiles;
constexpr std::size_t kNameBlock = 4096;
constexpr std::size_t kReadBlock = std::size_t{1} << 20;

struct FileState {
    std::uint64_t device;
    std::uint64_t inode;
    std::uint64_t keep;
    std::uint64_t start;
    std::uint64_t end;
    std::uint64_t created;
    std::uint64_t hashBefore;
    std::uint64_t hashAll;
};

std::optional<std::uint64_t> hashOf(int fd, off_t from, off_t to) {
    std::uint64_t hash = kHashBasis;
    std::string block;
    while (from < to) {
        block.resize(static_cast<std::size_t>(std::min<off_t>(to - from, kReadBlock)));
        if (readAt(fd, block.data(), block.size(), from) != 0) return std::nullopt;
        hash = fnv1a(block.data(), block.size(), hash);
        from += static_cast<off_t>(block.size());
    }
    return hash;
}

bool holds(int fd, off_t at, std::string_view expected) {
    std::string actual(expected.size(), '\0');
    return readAt(fd, actual.data(), actual.size(), at) == 0 && actual == expected;
}

// Whether the `size` bytes of the record file `fd` after `keep` are exactly our own run of
// appends: all of it, or its appends before the one in flight and a prefix of that one
// (`inFlight`, when known). Anything else holds bytes of another program, which stay.
bool onlyOurs(int fd, off_t size, const FileState& run, const std::string* inFlight) {
    const auto keep = static_cast<off_t>(run.keep);
    const auto start = static_cast<off_t>(run.start);
    const auto end = static_cast<off_t>(run.end);
    if (size <= keep || size > end) return false;
    if (size == end) return hashOf(fd, keep, end) == run.hashAll;
    if (inFlight == nullptr || size < start || start < keep) return false;
    return hashOf(fd, keep, start) == run.hashBefore &&
           holds(fd, start,
                 std::string_view(*inFlight).substr(0, static_cast<std::size_t>(size - start)));
}

}  // namespace

// Before each append: where every record file's run stands, and which file the bytes in flight
// go to. Two of them take turns, so that one torn by a crash leaves the one before.
struct RecordJournal::Intent {
    std::uint64_t sequence;
    char boot[40];
    std::uint64_t after;  // the document's state the runs continue
    std::uint64_t count;
    std::uint64_t writing;  // the file of the bytes in flight
    FileState files[kFiles];
    std::uint64_t check;

    bool whole() const { return check == fnv1a(this, offsetof(Intent, check)); }
};

// How long a record file was when this journal first appended to it. Kept at the end of the
// name block's room for the path, where journals of earlier releases left zeros.
struct Beginning {
    std::uint64_t marker;
    std::uint64_t initialSize;
    std::uint64_t created;
};
constexpr std::uint64_t kBeginningMarker = 0x6f766b2d62656731;  // "ovk-beg1"

// Where a record file lives and where it began, written once before its first intent and
// flushed, so that even a restart finds it.
struct RecordJournal::Name {
    std::uint64_t device;
    std::uint64_t inode;
    std::uint64_t size;  // of the path
    char path[kNameBlock - 4 * sizeof(std::uint64_t)];
    std::uint64_t check;

    static constexpr std::size_t kPathRoom = sizeof path - sizeof(Beginning);
    bool whole() const { return check == fnv1a(this, offsetof(Name, check)); }
    Beginning beginning() const {
        Beginning b{};
        std::memcpy(&b, path + kPathRoom, sizeof b);
        return b;
    }
};

off_t RecordJournal::fixedSize() {
    static_assert(sizeof(Intent) <= kSector && sizeof(Name) == kNameBlock);
    return static_cast<off_t>(2 * kSector + kFiles * kNameBlock);
}

namespace {
off_t nameAt(off_t at, std::size_t index) {
    return at + static_cast<off_t>(2 * kSector + index * kNameBlock);
}
}  // namespace

void RecordJournal::attach(int journal, const fs::path& name, off_t at, std::uint64_t after) {
    journal_ = journal;
    name_ = name;
    at_ = at;
    after_ = after;
    files_.clear();
    files_.reserve(kFiles);
}

void RecordJournal::detach() {
    journal_ = -1;
    files_.clear();
}

void RecordJournal::committed(std::uint64_t sequence) {
    after_ = sequence;
    for (File& file : files_) {
        file.keep = file.start = file.end;
        file.created = false;
        file.hashBefore = file.hashAll = kHashBasis;
    }
}

void RecordJournal::writeJournal(std::string_view bytes, off_t offset) const {
    if (const int errnum = DocumentStore::writeAt(journal_, bytes, offset))
        throw files::ioError("Cannot write", name_, errnum);
}

RecordJournal::File* RecordJournal::enter(const struct stat& st, const fs::path& path,
                                          bool created) {
    for (File& file : files_) {
        if (file.device == st.st_dev && file.inode == st.st_ino) return &file;
    }
    const std::string text = path.string();
    Name name{};
    // Beyond these, appends go unjournalled: a download has two record files.
    if (files_.size() >= kFiles || text.size() >= Name::kPathRoom) return nullptr;
    name.device = st.st_dev;
    name.inode = st.st_ino;
    name.size = text.size();
    std::memcpy(name.path, text.data(), text.size());
    const Beginning beginning{kBeginningMarker, static_cast<std::uint64_t>(st.st_size),
                              created && st.st_size == 0 ? 1u : 0u};
    std::memcpy(name.path + Name::kPathRoom, &beginning, sizeof beginning);
    name.check = fnv1a(&name, offsetof(Name, check));
    writeJournal(std::string_view(reinterpret_cast<const char*>(&name), sizeof name),
                 nameAt(at_, files_.size()));
    // Once per file and journal: a repair after a restart trusts only what was flushed, and
    // without the name it could not cut back the records of the articles it undoes.
    if (::fdatasync(journal_) != 0) throw files::ioError("Cannot flush", name_, errno);
    files_.push_back(File{st.st_dev, st.st_ino, st.st_size, st.st_size, st.st_size,
                          created && st.st_size == 0, kHashBasis, kHashBasis});
    return &files_.back();
}

void RecordJournal::writeIntent(std::size_t writing) {
    Intent intent{};
    intent.sequence = ++intents_;
    const std::string& boot = journal::bootId();
    std::memcpy(intent.boot, boot.data(), std::min(boot.size(), sizeof intent.boot - 1));
    intent.after = after_;
    intent.count = files_.size();
    intent.writing = writing;
    for (std::size_t i = 0; i < files_.size(); ++i) {
        const File& file = files_[i];
        intent.files[i] = FileState{static_cast<std::uint64_t>(file.device),
                                    static_cast<std::uint64_t>(file.inode),
                                    static_cast<std::uint64_t>(file.keep),
                                    static_cast<std::uint64_t>(file.start),
                                    static_cast<std::uint64_t>(file.end),
                                    file.created ? 1u : 0u,
                                    file.hashBefore,
                                    file.hashAll};
    }
    intent.check = fnv1a(&intent, offsetof(Intent, check));
    writeJournal(std::string_view(reinterpret_cast<const char*>(&intent), sizeof intent),
                 at_ + static_cast<off_t>((intent.sequence % 2) * kSector));
}

int RecordJournal::append(int fd, const fs::path& path, std::string_view bytes, bool created) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return errno;
    const off_t start = st.st_size;
    const auto size = static_cast<off_t>(bytes.size());
    File* file = attached() ? enter(st, path, created) : nullptr;
    if (file != nullptr) {
        // Bytes of another program since our last append end our run: ours before them stay.
        if (start != file->end) {
            file->keep = file->end = start;
            file->created = false;
            file->hashAll = kHashBasis;
        }
        file->start = start;
        file->hashBefore = file->hashAll;
        file->end = start + size;
        file->hashAll = fnv1a(bytes.data(), bytes.size(), file->hashBefore);
        // The bytes in flight first, then the intent that points at them.
        writeJournal(bytes, at_ + fixedSize());
        writeIntent(static_cast<std::size_t>(file - files_.data()));
    }
    if (const int errnum = DocumentStore::append(fd, bytes)) {
        // Half a record would read as a record of its own later: what this append wrote is cut
        // off again, unless another program has appended after it meanwhile.
        struct stat now {};
        if (::fstat(fd, &now) == 0 && now.st_size > start && now.st_size < start + size &&
            holds(fd, start, bytes.substr(0, static_cast<std::size_t>(now.st_size - start))) &&
            ::ftruncate(fd, start) == 0)
            ::fdatasync(fd);
        if (file != nullptr) {
            file->end = start;
            file->hashAll = file->hashBefore;
        }
        return errnum;
    }
    if (file != nullptr) {
        // Another program's bytes landed before ours: the run is theirs and ours mixed.
        const off_t reached = ::lseek(fd, 0, SEEK_CUR);
        if (reached != file->end) {
            file->keep = file->start = file->end = std::max<off_t>(reached, 0);
            file->created = false;
            file->hashBefore = file->hashAll = kHashBasis;
        }
    }
    return 0;
}

std::vector<off_t> RecordJournal::ends() const {
    std::vector<off_t> out;
    out.reserve(files_.size());
    for (const File& file : files_) out.push_back(file.end);
    return out;
}

void RecordJournal::undoAfterRestart(int journal, off_t at, std::span<const std::uint64_t> ends) {
    for (std::size_t i = 0; i < kFiles; ++i) {
        Name name{};
        if (readAt(journal, &name, sizeof name, nameAt(at, i)) != 0 || !name.whole() ||
            name.size >= Name::kPathRoom)
            continue;
        const Beginning beginning = name.beginning();
        if (beginning.marker != kBeginningMarker) continue;
        // A file first appended to after the state restored holds nothing of it beyond where
        // it stood then.
        const std::uint64_t length = i < ends.size() ? ends[i] : beginning.initialSize;
        const fs::path path(std::string(name.path, name.size));
        const journal::Descriptor file(journal::openDescriptor(path, O_RDWR | O_NOFOLLOW));
        struct stat st {};
        if (file.fd < 0 || ::fstat(file.fd, &st) != 0 ||
            static_cast<std::uint64_t>(st.st_dev) != name.device ||
            static_cast<std::uint64_t>(st.st_ino) != name.inode ||
            static_cast<std::uint64_t>(st.st_size) <= length)
            continue;
        if (length == 0 && beginning.created != 0) {
            if (::unlink(path.c_str()) != 0 && errno != ENOENT)
                throw files::ioError("Cannot remove", path, errno);
            continue;
        }
        if (::ftruncate(file.fd, static_cast<off_t>(length)) != 0 || ::fsync(file.fd) != 0)
            throw files::ioError("Cannot write", path, errno);
    }
}

bool RecordJournal::undo(int journal, off_t at, std::uint64_t after) {
    std::array<Intent, 2> intents{};
    const Intent* chosen = nullptr;
    for (std::size_t i = 0; i < intents.size(); ++i) {
        if (readAt(journal, &intents[i], sizeof(Intent), at + static_cast<off_t>(i * kSector)) ==
                0 &&
            intents[i].whole() && journal::thisBoot(intents[i].boot, sizeof intents[i].boot) &&
            (chosen == nullptr || intents[i].sequence > chosen->sequence))
            chosen = &intents[i];
    }
    // Runs that continue another state than the one restored were committed with it, or (after
    // a restart) cannot be told from what the page cache lost.
    if (chosen == nullptr) return false;
    if (chosen->after != after || chosen->count > kFiles) return true;
    for (std::size_t i = 0; i < chosen->count; ++i) {
        const FileState& run = chosen->files[i];
        Name name{};
        if (readAt(journal, &name, sizeof name, nameAt(at, i)) != 0 || !name.whole() ||
            name.device != run.device || name.inode != run.inode || name.size >= sizeof name.path)
            continue;
        const fs::path path(std::string(name.path, name.size));
        const journal::Descriptor file(journal::openDescriptor(path, O_RDWR | O_NOFOLLOW));
        struct stat st {};
        // Gone, replaced or out of reach: nothing of ours to cut there.
        if (file.fd < 0 || ::fstat(file.fd, &st) != 0 ||
            static_cast<std::uint64_t>(st.st_dev) != run.device ||
            static_cast<std::uint64_t>(st.st_ino) != run.inode)
            continue;
        std::optional<std::string> inFlight;
        if (chosen->writing == i && run.end >= run.start && run.end - run.start <= (1u << 30)) {
            inFlight.emplace(run.end - run.start, '\0');
            if (readAt(journal, inFlight->data(), inFlight->size(), at + fixedSize()) != 0)
                inFlight.reset();
        }
        if (!onlyOurs(file.fd, st.st_size, run, inFlight ? &*inFlight : nullptr)) continue;
        // A file this download created holds nothing else: it goes, and the next download
        // starts it afresh.
        if (run.keep == 0 && run.created != 0) {
            if (::unlink(path.c_str()) != 0 && errno != ENOENT)
                throw files::ioError("Cannot remove", path, errno);
            continue;
        }
        if (::ftruncate(file.fd, static_cast<off_t>(run.keep)) != 0 || ::fsync(file.fd) != 0)
            throw files::ioError("Cannot write", path, errno);
    }
    return true;
}

}  // namespace ovk
