// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <filesystem>

namespace ovk::files {

// The one place between a download's files and the disk where a test may stand, to see what
// only a crash or a power cut would show: it may stop the process part-way through a write,
// and it sees in which order files are flushed and renamed into place. The component installs
// no hooks and reads no setting for them; without hooks every call below is the system call
// alone. Tests (and the host built for them) install hooks before any download starts.
class WriteHooks {
  public:
    virtual ~WriteHooks() = default;
    // Before `wanted` bytes are written to a download's file: how many of them go now; the
    // rest follow in further calls. A hook standing for a crash ends the process here. Called
    // on the checkpoint thread too.
    virtual std::size_t writing(std::size_t wanted) { return wanted; }
    // After `file` was flushed to disk (by fsync, fdatasync, or syncfs through it).
    virtual void flushed(const std::filesystem::path& /*file*/) {}
    // After `from` was renamed to `to`.
    virtual void renamed(const std::filesystem::path& /*from*/,
                         const std::filesystem::path& /*to*/) {}
};

// Installs `hooks` for the whole process (nullptr: none) and returns those it replaces. The
// hooks must outlive every write made while they are installed.
WriteHooks* setWriteHooks(WriteHooks* hooks);

// How many of the `wanted` bytes a write may write now: all of them, unless hooks say less.
std::size_t writableNow(std::size_t wanted);

// fsync, fdatasync and syncfs of the descriptor `fd` of `file`, and rename: each returns what
// the system call returns (0, or -1 with errno set) and tells the hooks when it succeeded.
int syncFile(int fd, const std::filesystem::path& file);
int syncData(int fd, const std::filesystem::path& file);
int syncFileSystem(int fd, const std::filesystem::path& file);
int renameFile(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace ovk::files
