// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/files.hpp"

namespace ovk::journal {

// What the download document's journal and its part for the record files share: how their
// records are checked, read and told apart between boots.

// A slot or an intent never straddles one, so a power cut tears at most the one being written.
constexpr std::size_t kSector = 512;

// A fast hash to tell a whole record from a torn one, and bytes we wrote from others; not a
// defence against anybody.
constexpr std::uint64_t kHashBasis = 14695981039346656037u;
std::uint64_t fnv1a(const void* data, std::size_t size, std::uint64_t hash = kHashBasis);

// This boot of the machine. A record written in the same boot may trust what is in the page
// cache; after a restart only what was flushed counts.
const std::string& bootId();
// Makes the process take itself for a run in the boot `id` (nothing: the machine's own), as
// after a restart: only tests do, to read a journal as the next boot would, and only while no
// download runs. The component itself never names a boot.
void standInBoot(std::optional<std::string> id);
// Whether `boot`, as stored in a record of `size` bytes, names this boot.
bool thisBoot(const char* boot, std::size_t size);

int openDescriptor(const std::filesystem::path& path, int flags, mode_t mode = 0600);

using files::Descriptor;
using files::readAt;

}  // namespace ovk::journal
