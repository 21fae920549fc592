// SPDX-License-Identifier: MIT
#include "service/record_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/codepage.hpp"
#include "platform/confined_folder.hpp"
#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "service/document_store.hpp"
#include "util/case_fold.hpp"

namespace ovk {
namespace {

constexpr std::size_t kSearchedFirstLine = 8;

constexpr std::size_t kCheckedBytes = 64;
constexpr std::size_t kReadBlock = std::size_t{4} << 20;

Error fileError(const std::string& what, const std::filesystem::path& path, int errnum) {
    return files::ioError(what, path, errnum);
}

// Where the records of `path` go: the file a symbolic link at that name points to, through any
// chain of links. A loop is left for open() to report.
std::filesystem::path followLinks(const std::filesystem::path& path) {
    std::filesystem::path current = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(current, ec)) return current;
        const std::filesystem::path target = std::filesystem::read_symlink(current, ec);
        if (ec) return current;
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return current;
}

// Reads [from, to) of the file, a block at a time, into `visit`.
template <class Visit>
void readRange(int fd, off_t from, off_t to, const std::filesystem::path& path, Visit visit) {
    std::string block;
    while (from < to) {
        block.resize(static_cast<std::size_t>(std::min<off_t>(to - from, kReadBlock)));
        const ssize_t got = ::pread(fd, block.data(), block.size(), from);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw fileError("Cannot read", path, errno);
        if (got == 0) break;
        visit(std::string_view(block.data(), static_cast<std::size_t>(got)));
        from += got;
    }
}

std::size_t characterCount(std::string_view utf8) {
    std::size_t count = 0;
    for (const char c : utf8) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

// What a line of the file compares as: its folded form, after the round trip through the
// file's code page (a character the code page lacks is stored as '?' and so must compare).
std::string foldedAnsiLine(std::string_view ansiLine) {
    return caseFold(fromAnsi(ansiLine));
}

bool sameFile(const struct stat& st, dev_t device, ino_t inode, off_t size,
              const timespec& modified) {
    return st.st_dev == device && st.st_ino == inode && st.st_size == size &&
           st.st_mtim.tv_sec == modified.tv_sec && st.st_mtim.tv_nsec == modified.tv_nsec;
}

}  // namespace

void RecordFiles::AppendSymbolRecord(const std::filesystem::path& path, std::string_view record) {
    append(path, record, true);
}

void RecordFiles::AppendGerRecord(const std::filesystem::path& path, std::string_view record) {
    append(path, record, false);
}

bool RecordFiles::FileIndex::contains(const std::string& folded) const {
    return foldedLines.contains(folded) ||
           (!pendingLine.empty() && foldedAnsiLine(pendingLine) == folded);
}

// Lines the way a line-by-line reader sees them: ended by CR LF, LF or a lone CR. A CR LF split
// between two calls counts one empty line too many, which no search can find: first lines
// searched for have 8 characters or more.
void RecordFiles::FileIndex::add(std::string_view bytes) {
    if (bytes.empty()) return;
    std::string text = std::move(pendingLine);
    text.append(bytes);
    const std::string_view all(text);
    std::size_t start = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i] != '\r' && all[i] != '\n') continue;
        foldedLines.insert(foldedAnsiLine(all.substr(start, i - start)));
        if (all[i] == '\r' && i + 1 < all.size() && all[i + 1] == '\n') ++i;
        start = i + 1;
    }
    pendingLine = std::string(all.substr(start));
    endsWithLineBreak = all.back() == '\n' || all.back() == '\r';
    lastBytes.append(bytes.substr(bytes.size() - std::min(bytes.size(), kCheckedBytes)));
    if (lastBytes.size() > kCheckedBytes) lastBytes.erase(0, lastBytes.size() - kCheckedBytes);
}

RecordFiles::FileIndex& RecordFiles::indexOf(const std::string& key,
                                             const std::filesystem::path& path, int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw fileError("Cannot read", path, errno);
    FileIndex& index = files_[key];
    if (sameFile(st, index.device, index.inode, index.size, index.modified)) return index;

    // Another program appended to the file: only its bytes are new, as long as the file is the
    // same one, not older, and still holds the bytes last indexed where they were.
    const bool grew = index.size >= 0 && st.st_dev == index.device && st.st_ino == index.inode &&
                      st.st_size > index.size &&
                      (st.st_mtim.tv_sec > index.modified.tv_sec ||
                       (st.st_mtim.tv_sec == index.modified.tv_sec &&
                        st.st_mtim.tv_nsec >= index.modified.tv_nsec));
    off_t from = 0;
    if (grew) {
        std::string check;
        const off_t at = index.size - static_cast<off_t>(index.lastBytes.size());
        readRange(fd, at, index.size, path, [&](std::string_view bytes) { check.append(bytes); });
        if (check == index.lastBytes) from = index.size;
    }
    if (from == 0) index = FileIndex{};
    readRange(fd, from, st.st_size, path, [&](std::string_view bytes) { index.add(bytes); });
    index.device = st.st_dev;
    index.inode = st.st_ino;
    index.size = st.st_size;
    index.modified = st.st_mtim;
    return index;
}

void RecordFiles::append(const std::filesystem::path& path, std::string_view record,
                         bool separatorLine) {
    // The record's lines, without the carriage returns a service may already have put there:
    // they are written back with carriage return and line feed.
    std::string lines;
    lines.reserve(record.size() + record.size() / 16);
    std::string firstLine;
    bool sawLineFeed = false;
    {
        std::size_t start = 0;
        while (start <= record.size()) {
            const std::size_t end = record.find('\n', start);
            std::string_view line = record.substr(
                start, end == std::string_view::npos ? std::string_view::npos : end - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (end != std::string_view::npos && !sawLineFeed) {
                firstLine = std::string(line);
                sawLineFeed = true;
            }
            lines += line;
            if (end == std::string_view::npos) break;
            lines += "\r\n";
            start = end + 1;
        }
    }
    const std::string ansiRecord = toAnsi(lines);
    const std::string ansiFirstLine = toAnsi(firstLine);

    const std::filesystem::path target = std::filesystem::absolute(followLinks(path));
    bool created = true;
    int fd =
        ::open(target.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(target.c_str(), O_RDWR | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) throw fileError("Cannot open", path, errno);
    const files::Descriptor file(fd);

    FileIndex& index = indexOf(target.lexically_normal().string(), path, fd);
    if (!created && characterCount(firstLine) >= kSearchedFirstLine &&
        index.contains(foldedAnsiLine(ansiFirstLine))) {
        return;
    }

    std::string bytes;
    bytes.reserve(ansiRecord.size() + 8);
    // An empty file starts like a new one: a run killed right after creating it, before its
    // journal knew of the file, leaves it empty, and the next run must not lose the first line.
    if ((created || index.size == 0) && separatorLine) bytes += " \r\n";
    if (!index.endsWithLineBreak) bytes += "\r\n";
    if (separatorLine) bytes += " \r\n";
    bytes += ansiRecord;

    // Without a held document there is no journal: the append alone, cut back should it fail.
    RecordJournal unjournalled;
    const int errnum = document_ != nullptr ? document_->appendRecord(fd, target, bytes, created)
                                            : unjournalled.append(fd, target, bytes, created);
    if (errnum != 0) {
        index.size = -1;
        throw fileError("Cannot write", path, errnum);
    }

    index.add(bytes);
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        index.device = st.st_dev;
        index.inode = st.st_ino;
        index.size = st.st_size;
        index.modified = st.st_mtim;
    } else {
        index.size = -1;
    }
}

void RecordFiles::journalPayloadsIn(files::ConfinedFolder& folder,
                                    const std::filesystem::path& downloadFile) const {
    folder.setTemporaryPrefix(DocumentStore::temporaryPrefix(downloadFile));
    if (document_ != nullptr)
        folder.onNewFile([document = document_](const std::filesystem::path& file) {
            document->fileCreated(file);
        });
}

}  // namespace ovk
