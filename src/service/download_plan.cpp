// SPDX-License-Identifier: MIT
#include "service/download_plan.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <system_error>

#include "platform/errors.hpp"
#include "service/document_store.hpp"
#include "service/journal_io.hpp"

namespace ovk {
namespace fs = std::filesystem;
using journal::Descriptor;
using journal::fnv1a;
using journal::kSector;
using journal::openDescriptor;
using journal::readAt;

namespace {

constexpr char kMagic[16] = "ovk-plan v1\n";
constexpr std::size_t kAnchor = 64;
// A tail is Project's end tag and the end of the document: anything near this size is no tail
// the download wrote.
constexpr std::uint64_t kLargestTail = 1u << 20;
constexpr std::uint64_t kLargestIds = std::uint64_t{1} << 30;

struct Header {
    char magic[16];
    std::uint64_t device;
    std::uint64_t inode;
    std::uint64_t size;
    std::int64_t modifiedSeconds;
    std::int64_t modifiedNanoseconds;
    std::uint64_t count;
    std::uint64_t idsSize;
    std::uint64_t check;  // over the fields above and the identifiers that follow
};

// One per article the download got through. Four to a sector, so a power cut tears at most the
// one being written; its check tells.
struct Record {
    std::uint64_t done;
    std::uint64_t tailOffset;
    std::uint64_t tailSize;
    std::uint64_t tailHash;
    std::uint64_t anchorSize;
    char anchor[kAnchor];
    std::uint64_t check;
    char unused[128 - 6 * 8 - kAnchor];

    bool whole() const { return check == fnv1a(this, offsetof(Record, check)); }
};
static_assert(sizeof(Record) == 128 && kSector % sizeof(Record) == 0);

off_t recordsAfter(const Header& header) {
    return static_cast<off_t>((sizeof(Header) + header.idsSize + kSector - 1) / kSector * kSector);
}

bool sameFile(const Header& header, const struct stat& st) {
    return header.device == st.st_dev && header.inode == st.st_ino &&
           header.size == static_cast<std::uint64_t>(st.st_size) &&
           header.modifiedSeconds == st.st_mtim.tv_sec &&
           header.modifiedNanoseconds == st.st_mtim.tv_nsec;
}

}  // namespace

DownloadPlan::DownloadPlan(fs::path plan, fs::path document)
    : plan_(std::move(plan)), document_(std::move(document)) {}

DownloadPlan::~DownloadPlan() {
    if (fd_ >= 0) ::close(fd_);
}

void DownloadPlan::start(const std::vector<std::string>& ids) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    pending_ = 0;
    struct stat st {};
    if (::stat(document_.c_str(), &st) != 0)
        throw files::ioError("Cannot open", document_, errno, err::FileNotFound);
    std::string body;
    for (const std::string& id : ids) {
        const auto size = static_cast<std::uint32_t>(id.size());
        body.append(reinterpret_cast<const char*>(&size), sizeof size);
        body += id;
    }
    Header header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.device = st.st_dev;
    header.inode = st.st_ino;
    header.size = static_cast<std::uint64_t>(st.st_size);
    header.modifiedSeconds = st.st_mtim.tv_sec;
    header.modifiedNanoseconds = st.st_mtim.tv_nsec;
    header.count = ids.size();
    header.idsSize = body.size();
    header.check = fnv1a(body.data(), body.size(), fnv1a(&header, offsetof(Header, check)));
    body.insert(0, reinterpret_cast<const char*>(&header), sizeof header);

    // Whole under a temporary name of the store's, which a repair removes, then renamed: the
    // plan exists complete or not at all.
    std::string pattern =
        (plan_.parent_path() / ("." + document_.filename().string() + ".ovk-tmp-XXXXXX")).string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) throw files::ioError("Cannot create a temporary file beside", document_, errno);
    const fs::path temp(pattern);
    try {
        if (const int errnum = DocumentStore::writeAt(fd, body, 0))
            throw files::ioError("Cannot write", temp, errnum);
        if (::fsync(fd) != 0) throw files::ioError("Cannot flush", temp, errno);
        if (::rename(temp.c_str(), plan_.c_str()) != 0)
            throw files::ioError("Cannot write", plan_, errno);
    } catch (...) {
        ::close(fd);
        std::error_code ec;
        fs::remove(temp, ec);
        throw;
    }
    fd_ = fd;
    recordsAt_ = recordsAfter(header);
}

void DownloadPlan::resume() {
    if (fd_ >= 0) return;
    const int fd = openDescriptor(plan_, O_RDWR | O_NOFOLLOW);
    if (fd < 0) throw files::ioError("Cannot open", plan_, errno);
    Header header{};
    if (const int errnum = readAt(fd, &header, sizeof header, 0)) {
        ::close(fd);
        throw files::ioError("Cannot read", plan_, errnum);
    }
    fd_ = fd;
    recordsAt_ = recordsAfter(header);
}

void DownloadPlan::note(int fd, off_t tailOffset, std::string_view tail) {
    if (fd_ < 0 || pending_ == 0) return;
    Record record{};
    record.done = pending_;
    record.tailOffset = static_cast<std::uint64_t>(tailOffset);
    record.tailSize = tail.size();
    record.tailHash = fnv1a(tail.data(), tail.size());
    record.anchorSize = static_cast<std::uint64_t>(std::min<off_t>(tailOffset, kAnchor));
    if (const int errnum = readAt(fd, record.anchor, record.anchorSize,
                                  tailOffset - static_cast<off_t>(record.anchorSize)))
        throw files::ioError("Cannot read", document_, errnum);
    record.check = fnv1a(&record, offsetof(Record, check));
    const off_t at = recordsAt_ + static_cast<off_t>((pending_ - 1) * sizeof(Record));
    if (const int errnum = DocumentStore::writeAt(
            fd_, std::string_view(reinterpret_cast<const char*>(&record), sizeof record), at))
        throw files::ioError("Cannot write", plan_, errnum);
}

void DownloadPlan::remove() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    pending_ = 0;
    std::error_code ec;
    fs::remove(plan_, ec);
}

std::optional<DownloadPlan::State> DownloadPlan::check() {
    Descriptor plan(openDescriptor(plan_, O_RDONLY | O_NOFOLLOW));
    if (plan.fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        throw files::ioError("Cannot open", plan_, errno);
    }
    const auto drop = [&]() -> std::optional<State> {
        remove();
        return std::nullopt;
    };
    Header header{};
    struct stat planStat {};
    if (::fstat(plan.fd, &planStat) != 0 || readAt(plan.fd, &header, sizeof header, 0) != 0 ||
        std::memcmp(header.magic, kMagic, sizeof kMagic) != 0 || header.idsSize > kLargestIds ||
        static_cast<std::uint64_t>(planStat.st_size) < sizeof header + header.idsSize)
        return drop();
    std::string body(header.idsSize, '\0');
    if (readAt(plan.fd, body.data(), body.size(), sizeof header) != 0 ||
        header.check != fnv1a(body.data(), body.size(), fnv1a(&header, offsetof(Header, check))))
        return drop();
    State state;
    for (std::size_t at = 0; at < body.size();) {
        std::uint32_t size = 0;
        if (body.size() - at < sizeof size) return drop();
        std::memcpy(&size, body.data() + at, sizeof size);
        at += sizeof size;
        if (body.size() - at < size) return drop();
        state.ids.emplace_back(body, at, size);
        at += size;
    }
    if (state.ids.size() != header.count) return drop();

    Descriptor document(openDescriptor(document_, O_RDONLY | O_NOFOLLOW));
    struct stat st {};
    if (document.fd < 0 || ::fstat(document.fd, &st) != 0)
        throw files::ioError("Cannot open", document_, errno, err::FileNotFound);
    // The record of the most articles that describes the document as it is: where its tail
    // starts, the bytes before it, and the tail itself up to the end of the file.
    const off_t recordsAt = recordsAfter(header);
    const auto records = static_cast<std::size_t>(std::max<off_t>(0, planStat.st_size - recordsAt) /
                                                  static_cast<off_t>(sizeof(Record)));
    std::vector<Record> all(records);
    if (records > 0 && readAt(plan.fd, all.data(), records * sizeof(Record), recordsAt) != 0)
        throw files::ioError("Cannot read", plan_, EIO);
    std::uint64_t tailHash = 0;
    bool tailRead = false;
    off_t hashedAt = -1;
    for (const Record& record : all) {
        if (!record.whole() || record.done == 0 || record.done > state.ids.size() ||
            record.done <= state.done || record.tailSize > kLargestTail ||
            record.anchorSize > kAnchor || record.anchorSize > record.tailOffset ||
            record.tailOffset + record.tailSize != static_cast<std::uint64_t>(st.st_size))
            continue;
        const auto at = static_cast<off_t>(record.tailOffset);
        if (hashedAt != at) {
            std::string tail(record.tailSize, '\0');
            tailRead = readAt(document.fd, tail.data(), tail.size(), at) == 0;
            tailHash = tailRead ? fnv1a(tail.data(), tail.size()) : 0;
            hashedAt = at;
        }
        char before[kAnchor];
        if (!tailRead || tailHash != record.tailHash ||
            readAt(document.fd, before, record.anchorSize,
                   at - static_cast<off_t>(record.anchorSize)) != 0 ||
            std::memcmp(before, record.anchor, record.anchorSize) != 0)
            continue;
        state.done = record.done;
        state.tailOffset = at;
    }
    // No article saved yet: the download can start over only on the document it began with.
    if (state.done == 0 && !sameFile(header, st)) return drop();
    return state;
}

}  // namespace ovk
