// SPDX-License-Identifier: MIT
#include "service/journal_io.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <utility>

namespace ovk::journal {

std::uint64_t fnv1a(const void* data, std::size_t size, std::uint64_t hash) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211u;
    return hash;
}

namespace {
std::optional<std::string>& standIn() {
    static std::optional<std::string> id;
    return id;
}
}  // namespace

const std::string& bootId() {
    if (const std::optional<std::string>& other = standIn()) return *other;
    static const std::string id = [] {
        std::ifstream in("/proc/sys/kernel/random/boot_id");
        std::string line;
        std::getline(in, line);
        return line;
    }();
    return id;
}

void standInBoot(std::optional<std::string> id) {
    standIn() = std::move(id);
}

bool thisBoot(const char* boot, std::size_t size) {
    const std::string& id = bootId();
    return !id.empty() && id == std::string(boot, ::strnlen(boot, size));
}

int openDescriptor(const std::filesystem::path& path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace ovk::journal
