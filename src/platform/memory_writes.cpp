// SPDX-License-Identifier: MIT
#include "platform/memory_writes.hpp"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>

namespace ovk::files {
namespace {

// Below this a plain write costs less than setting up the pipe.
constexpr std::size_t kSplicedFrom = std::size_t{256} << 10;
// What the pipe holds at once, if the system allows it (1 MiB is the usual limit for
// unprivileged processes); the default 64 KiB works too, in more steps.
constexpr int kPipeBytes = 1 << 20;

int writePlain(int fd, const char* data, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t written =
            offset < 0 ? ::write(fd, data, size) : ::pwrite(fd, data, size, offset);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        if (offset >= 0) offset += static_cast<off_t>(written);
    }
    return 0;
}

struct Pipe {
    int read = -1;
    int write = -1;
    ~Pipe() {
        if (read >= 0) ::close(read);
        if (write >= 0) ::close(write);
    }
};

}  // namespace

int writeFromMemory(int fd, std::string_view bytes, off_t offset) {
    const char* data = bytes.data();
    std::size_t size = bytes.size();
    if (size < kSplicedFrom) return writePlain(fd, data, size, offset);
    Pipe pipe;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return writePlain(fd, data, size, offset);
    pipe.read = ends[0];
    pipe.write = ends[1];
    ::fcntl(pipe.write, F_SETPIPE_SZ, kPipeBytes);
    while (size > 0) {
        iovec piece{const_cast<char*>(data), std::min<std::size_t>(size, kPipeBytes)};
        const ssize_t queued = ::vmsplice(pipe.write, &piece, 1, 0);
        if (queued < 0) {
            if (errno == EINTR) continue;
            return writePlain(fd, data, size, offset);
        }
        // The pipe holds references to the caller's pages: it is emptied before returning,
        // so the caller may change or free them afterwards.
        auto left = static_cast<std::size_t>(queued);
        while (left > 0) {
            loff_t at = offset;
            const ssize_t moved =
                ::splice(pipe.read, nullptr, fd, offset < 0 ? nullptr : &at, left, SPLICE_F_MOVE);
            if (moved < 0 && errno == EINTR) continue;
            if (moved < 0 && (errno == EINVAL || errno == ENOSYS) &&
                left == static_cast<std::size_t>(queued)) {
                // Nothing of this piece reached the file: the rest goes the plain way.
                return writePlain(fd, data, size, offset);
            }
            if (moved < 0) return errno;
            if (moved == 0) return EIO;
            data += moved;
            size -= static_cast<std::size_t>(moved);
            left -= static_cast<std::size_t>(moved);
            if (offset >= 0) offset += static_cast<off_t>(moved);
        }
    }
    return 0;
}

}  // namespace ovk::files
