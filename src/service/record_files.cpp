#include "service/record_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/codepage.hpp"
#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "util/case_fold.hpp"

namespace ovk {
namespace {

constexpr std::size_t kSearchedFirstLine = 8;

Error fileError(const std::string& what, const std::filesystem::path& path, int errnum) {
    if (errnum == ELOOP) {
        return Error(err::PermissionDenied,
                     "Refused to write through the symbolic link " + path.string());
    }
    return files::ioError(what, path, errnum);
}

class FileHandle {
  public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

std::size_t characterCount(std::string_view utf8) {
    std::size_t count = 0;
    for (const char c : utf8) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

// Lines the way a line-by-line reader sees them: ended by CR LF, LF or a lone CR.
template <class Visit>
void forEachLine(std::string_view text, Visit visit) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        visit(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) visit(text.substr(start));
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

RecordFiles::FileIndex& RecordFiles::indexOf(const std::filesystem::path& path, int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw fileError("Cannot read", path, errno);
    FileIndex& index = files_[path.lexically_normal().string()];
    if (sameFile(st, index.device, index.inode, index.size, index.modified)) return index;

    // Somebody else wrote to the file, or we have not seen it yet: read it once, completely.
    std::string content(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t got =
            ::pread(fd, content.data() + done, content.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw fileError("Cannot read", path, errno);
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    content.resize(done);
    index.foldedLines.clear();
    forEachLine(content,
                [&](std::string_view line) { index.foldedLines.insert(foldedAnsiLine(line)); });
    index.endsWithLineBreak = content.empty() || content.back() == '\n' || content.back() == '\r';
    index.device = st.st_dev;
    index.inode = st.st_ino;
    index.size = static_cast<off_t>(content.size());
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

    bool created = true;
    int fd =
        ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) throw fileError("Cannot open", path, errno);
    const FileHandle file(fd);

    FileIndex& index = indexOf(path, fd);
    if (!created && characterCount(firstLine) >= kSearchedFirstLine &&
        index.foldedLines.contains(foldedAnsiLine(ansiFirstLine))) {
        return;
    }

    std::string bytes;
    bytes.reserve(ansiRecord.size() + 8);
    if (created && separatorLine) bytes += " \r\n";
    if (!index.endsWithLineBreak) bytes += "\r\n";
    if (separatorLine) bytes += " \r\n";
    bytes += ansiRecord;

    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) {
            const int errnum = errno;
            // Half a record would read as a record of its own later: cut it off again.
            if (::ftruncate(fd, index.size) == 0) ::fsync(fd);
            index.size = -1;
            throw fileError("Cannot write", path, errnum);
        }
        done += static_cast<std::size_t>(written);
    }

    if (separatorLine) index.foldedLines.insert(" ");
    forEachLine(ansiRecord,
                [&](std::string_view line) { index.foldedLines.insert(foldedAnsiLine(line)); });
    if (!bytes.empty()) index.endsWithLineBreak = bytes.back() == '\n';
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

}  // namespace ovk
