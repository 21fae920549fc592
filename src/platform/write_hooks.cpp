// SPDX-License-Identifier: MIT
#include "platform/write_hooks.hpp"

#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace ovk::files {
namespace {

constinit std::atomic<WriteHooks*> installed{nullptr};

template <class Tell>
int told(int result, Tell tell) {
    if (result != 0) return result;
    if (WriteHooks* hooks = installed.load(std::memory_order_acquire)) tell(*hooks);
    return 0;
}

}  // namespace

WriteHooks* setWriteHooks(WriteHooks* hooks) {
    return installed.exchange(hooks, std::memory_order_acq_rel);
}

std::size_t writableNow(std::size_t wanted) {
    WriteHooks* hooks = installed.load(std::memory_order_acquire);
    return hooks == nullptr ? wanted : hooks->writing(wanted);
}

int syncFile(int fd, const std::filesystem::path& file) {
    return told(::fsync(fd), [&](WriteHooks& hooks) { hooks.flushed(file); });
}

int syncData(int fd, const std::filesystem::path& file) {
    return told(::fdatasync(fd), [&](WriteHooks& hooks) { hooks.flushed(file); });
}

int syncFileSystem(int fd, const std::filesystem::path& file) {
    return told(::syncfs(fd), [&](WriteHooks& hooks) { hooks.flushed(file); });
}

int renameFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    return told(std::rename(from.c_str(), to.c_str()),
                [&](WriteHooks& hooks) { hooks.renamed(from, to); });
}

}  // namespace ovk::files
