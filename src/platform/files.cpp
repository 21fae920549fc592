// SPDX-License-Identifier: MIT
#include "platform/files.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/errors.hpp"
#include "platform/text.hpp"

namespace ovk::files {
namespace {

std::optional<fs::path>& componentDirOverride() {
    static std::optional<fs::path> dir;
    return dir;
}

// Any address inside this library; dladdr tells which file it was loaded from.
void anchor() {}

// Temporary files of atomic writes are named "." + target name + kTempMarker + six random
// characters, so that a later write of the same target can tell its own leftovers (from a
// crash or a kill) from anybody else's files.
constexpr std::string_view kTempMarker = ".ovk-tmp-";
constexpr auto kLeftoverAge = std::chrono::minutes(1);

std::string tempPrefix(const fs::path& target) {
    return "." + target.filename().string() + std::string(kTempMarker);
}

// Removes the leftovers of earlier writes of `target` older than a minute: younger ones may
// belong to a write still under way in another process. Each target's folder is looked
// through once per process, so a target rewritten after every downloaded item does not cost
// a folder scan each time.
void removeLeftovers(const fs::path& folder, const fs::path& target) {
    static std::mutex mutex;
    static std::set<std::string> swept;
    {
        std::lock_guard lock(mutex);
        std::error_code ec;
        const fs::path key = fs::weakly_canonical(target, ec);
        if (!swept.insert((ec ? target : key).string()).second) return;
    }
    const std::string prefix = tempPrefix(target);
    const auto now = fs::file_time_type::clock::now();
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc) || it->is_symlink(fileEc)) continue;
        const auto modified = it->last_write_time(fileEc);
        if (!fileEc && now - modified > kLeftoverAge) fs::remove(it->path(), fileEc);
    }
}

// Earlier releases wrote payload files through "." + name + "." + eight characters + ".tmp".
bool isEarlierPayloadTemporary(std::string_view name) {
    constexpr std::size_t kSuffix = 1 + 8 + 4;
    if (name.size() < 2 + kSuffix || !name.ends_with(".tmp")) return false;
    const std::string_view random = name.substr(name.size() - kSuffix, 9);
    return random[0] == '.' && std::all_of(random.begin() + 1, random.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
           });
}

}  // namespace

Descriptor::~Descriptor() {
    if (fd >= 0) ::close(fd);
}

void removeWriteLeftovers(const fs::path& folder) {
    const auto now = fs::file_time_type::clock::now();
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const auto marker = name.rfind(kTempMarker);
        const bool atomicWrite =
            marker != std::string::npos && name.size() == marker + kTempMarker.size() + 6;
        if (name.front() != '.' || !(atomicWrite || isEarlierPayloadTemporary(name))) continue;
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc) || it->is_symlink(fileEc)) continue;
        const auto modified = it->last_write_time(fileEc);
        if (!fileEc && now - modified > kLeftoverAge) fs::remove(it->path(), fileEc);
    }
}

fs::path componentDir() {
    if (const auto& dir = componentDirOverride()) return *dir;
    if (const char* env = std::getenv("OVK_COMPONENT_DIR"); env != nullptr && *env != '\0') {
        return fs::path(env);
    }
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&anchor), &info) != 0 && info.dli_fname != nullptr) {
        std::error_code ec;
        const auto file = fs::canonical(info.dli_fname, ec);
        if (!ec) {
            // Installed, the files have a folder of their own beside the library, so that
            // nothing generically named lands in a shared library folder; in the build tree
            // they sit right beside it.
            fs::path own = file.parent_path() / "ovk_client";
            if (fs::is_directory(own, ec)) return own;
            return file.parent_path();
        }
    }
    return fs::current_path();
}

void setComponentDir(std::optional<fs::path> dir) {
    componentDirOverride() = std::move(dir);
}

std::optional<fs::path> findCaseInsensitive(const fs::path& dir, std::string_view name) {
    std::error_code ec;
    const fs::path exact = dir / fs::path(name);
    if (fs::is_regular_file(exact, ec)) return exact;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (equalsIgnoringAsciiCase(it->path().filename().string(), name) &&
            it->is_regular_file(ec)) {
            return it->path();
        }
    }
    return std::nullopt;
}

fs::path inComponentDir(std::string_view name) {
    const fs::path dir = componentDir();
    return findCaseInsensitive(dir, name).value_or(dir / fs::path(name));
}

void replaceFileContent(const fs::path& target, std::string_view content) {
    replaceFileContentWith(target, [&](int fd) {
        const char* data = content.data();
        size_t left = content.size();
        while (left > 0) {
            const ssize_t written = ::write(fd, data, left);
            if (written < 0) {
                if (errno == EINTR) continue;
                throw ioError("Cannot write", target, errno);
            }
            data += written;
            left -= static_cast<size_t>(written);
        }
    });
}

void replaceFileContentWith(const fs::path& target, const std::function<void(int fd)>& write) {
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    removeLeftovers(folder, target);
    std::string pattern = (folder / (tempPrefix(target) + "XXXXXX")).string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw ioError("Cannot create a temporary file beside", target, errno);
    const fs::path temp(pattern);
    auto fail = [&](const char* what) {
        const int errnum = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        throw ioError(what, target, errnum);
    };
    // Keep the permissions an existing file had; a new one gets the usual 0644 (less umask).
    struct stat st {};
    const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    if (::fchmod(fd, mode) != 0) fail("Cannot set permissions for");
    try {
        write(fd);
    } catch (...) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
    if (::fsync(fd) != 0) fail("Cannot flush");
    if (::close(fd) != 0) {
        const int errnum = errno;
        ::unlink(temp.c_str());
        throw ioError("Cannot close", target, errnum);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int errnum = errno;
        ::unlink(temp.c_str());
        throw ioError("Cannot replace", target, errnum);
    }
}

int readUpTo(int fd, void* data, std::size_t size, off_t offset, std::size_t& got) {
    auto* bytes = static_cast<char*>(data);
    got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, bytes + got, size - got, offset + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return 0;
}

int readAt(int fd, void* data, std::size_t size, off_t offset) {
    std::size_t got = 0;
    if (const int errnum = readUpTo(fd, data, size, offset, got)) return errnum;
    return got == size ? 0 : EIO;
}

Error ioError(const std::string& what, const fs::path& path, int errnum, int32_t notFound) {
    const int32_t number = errnum == ENOENT   ? notFound
                           : errnum == EACCES ? err::PermissionDenied
                                              : err::DeviceIo;
    return Error(number, what + " " + path.string() + ": " + std::strerror(errnum));
}

}  // namespace ovk::files
