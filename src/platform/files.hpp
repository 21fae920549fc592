// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/errors.hpp"

namespace ovk::files {

namespace fs = std::filesystem;

// A descriptor closed (when it is one) at the end of the scope, whichever way it is left.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int descriptor) : fd(descriptor) {}
    ~Descriptor();
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

// The folder that holds the component's own files (service description, schemas, resource
// and language files). It is the folder "ovk_client" beside the loaded library where there is
// one (an installed component), else the library's own folder (the build tree), unless the
// environment variable OVK_COMPONENT_DIR names another one, or a host or test has set one with
// setComponentDir.
fs::path componentDir();
void setComponentDir(std::optional<fs::path> dir);

// Finds `name` in `dir` without regard to letter case: "NLS.XML", "NLS.xml" and "nls.xml"
// name the same file. An exact match wins over a case-folded one.
std::optional<fs::path> findCaseInsensitive(const fs::path& dir, std::string_view name);

// The path of `name` in the component folder, matched without regard to case; when no such
// file exists, the folder joined with the name as given.
fs::path inComponentDir(std::string_view name);

// Replaces the whole content of `target` safely: writes to a temporary file in the same
// folder, flushes it to disk and renames it over the target. A crash or a full disk leaves
// either the old or the new content, never a mixture. The temporary file is named
// "." + the target's name + ".ovk-tmp-" + six characters; the first write of a target in a
// process removes such files left behind (by a crash or a kill) more than a minute ago.
// Throws Error on failure.
void replaceFileContent(const fs::path& target, std::string_view content);
// The same with the content written by `write` to the temporary file's descriptor, for
// content that should not be held in memory whole. `write` throws Error when it fails; the
// target then keeps its old content.
void replaceFileContentWith(const fs::path& target, const std::function<void(int fd)>& write);

// Removes what atomic writes of any file in `folder` left behind more than a minute ago (see
// replaceFileContent), and the payload files' temporary files of earlier releases.
void removeWriteLeftovers(const fs::path& folder);

// Reads `size` bytes at `offset`, through interrupted and short reads; `got` says how many
// were read before the file ended. Returns 0 or the error number.
int readUpTo(int fd, void* data, std::size_t size, off_t offset, std::size_t& got);
// The same where the bytes must all be there: EIO when the file ends first.
int readAt(int fd, void* data, std::size_t size, off_t offset);

// A failed system call on `path` as the component reports it: "<what> <path>: <reason>", with
// the number a host knows for it (a missing file or folder `notFound`, 70 for a refused access,
// 57 for any other failure).
Error ioError(const std::string& what, const fs::path& path, int errnum,
              int32_t notFound = err::PathNotFound);

}  // namespace ovk::files
