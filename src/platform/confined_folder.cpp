// SPDX-License-Identifier: MIT
#include "platform/confined_folder.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "platform/memory_writes.hpp"
#include "platform/write_hooks.hpp"

namespace ovk::files {
namespace {

std::string randomCharacters(std::size_t count) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string text(count, '0');
    for (char& c : text) c = kDigits[random() % 36];
    return text;
}

}  // namespace

std::string ConfinedFolder::temporaryName(std::string_view name) const {
    if (!temporaryPrefix_.empty()) return temporaryPrefix_ + randomCharacters(6);
    return "." + std::string(name) + "." + randomCharacters(8) + ".tmp";
}

ConfinedFolder::ConfinedFolder(const std::filesystem::path& folder)
    : path_(folder.empty() ? std::filesystem::path(".") : folder) {
    fd_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) throw ioError("Cannot open the folder", path_, errno);
}

ConfinedFolder::~ConfinedFolder() {
    if (fd_ >= 0) ::close(fd_);
}

void ConfinedFolder::checkPlainName(std::string_view name) {
    const auto refuse = [&](const char* why) {
        std::string shown;
        for (const char c : name) shown += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
        throw Error(err::InvalidArgument, "Refused to write the file \"" + shown + "\": " + why +
                                              "; nothing was written");
    };
    if (name.empty()) refuse("the name is empty");
    if (name == "." || name == "..") refuse("the name is a folder reference");
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\') refuse("the name holds a path separator");
        if (byte < 0x20 || byte == 0x7F) refuse("the name holds a control character");
    }
}

void ConfinedFolder::replaceFile(std::string_view name, std::string_view content,
                                 bool flush) const {
    replaceFileWith(
        name, [&](const ContentSink& write) { write(content); }, flush);
}

void ConfinedFolder::replaceFileWith(std::string_view name,
                                     const std::function<void(const ContentSink&)>& produce,
                                     bool flush) const {
    Replacement file(*this, name);
    produce([&](std::string_view piece) { file.write(piece); });
    file.commit(flush);
}

ConfinedFolder::Replacement::Replacement(const ConfinedFolder& folder, std::string_view name)
    : folder_(folder) {
    checkPlainName(name);
    target_ = std::string(name);
    shown_ = folder.path_ / target_;
    for (int attempt = 0; fd_ < 0 && attempt < 16; ++attempt) {
        temp_ = folder.temporaryName(name);
        fd_ = ::openat(folder.fd_, temp_.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) throw ioError("Cannot create a temporary file beside", shown_, errno);
    // A replaced file keeps its permissions; a new one gets what a plain create would give.
    struct stat st {};
    exists_ = ::fstatat(folder.fd_, target_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists_ && S_ISREG(st.st_mode)) {
        mode_ = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode_ = 0644 & ~mask;
    }
}

ConfinedFolder::Replacement::~Replacement() {
    if (done_) return;
    if (fd_ >= 0) ::close(fd_);
    ::unlinkat(folder_.fd_, temp_.c_str(), 0);
}

void ConfinedFolder::Replacement::write(std::string_view piece) {
    while (!piece.empty()) {
        const std::size_t allowed = writableNow(piece.size());
        if (const int errnum = writeFromMemory(fd_, piece.substr(0, allowed)); errnum != 0)
            throw ioError("Cannot write", shown_, errnum);
        piece.remove_prefix(allowed);
    }
}

void ConfinedFolder::Replacement::commit(bool flush) {
    if (!exists_ && folder_.onNewFile_) folder_.onNewFile_(shown_);
    if (::fchmod(fd_, mode_) != 0) throw ioError("Cannot set permissions for", shown_, errno);
    if (flush && ::fsync(fd_) != 0) throw ioError("Cannot flush", shown_, errno);
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) throw ioError("Cannot close", shown_, errno);
    if (::renameat(folder_.fd_, temp_.c_str(), folder_.fd_, target_.c_str()) != 0)
        throw ioError("Cannot replace", shown_, errno);
    done_ = true;
}

void ConfinedFolder::syncFileSystem() const {
    if (::syncfs(fd_) != 0) throw ioError("Cannot flush", path_, errno);
}

}  // namespace ovk::files
