// SPDX-License-Identifier: MIT
#pragma once

#include <cstdlib>
#include <filesystem>

namespace ovk::test {

// Where tests leave the pictures they take: $OVK_SCREENSHOT_DIR when it is set (the README's
// pictures are taken that way), else a folder in the build tree. Tests never write into the
// source tree.
inline std::filesystem::path screenshotFolder() {
    const char* chosen = std::getenv("OVK_SCREENSHOT_DIR");
    std::filesystem::path folder = chosen != nullptr && *chosen != '\0'
                                       ? std::filesystem::path(chosen)
                                       : std::filesystem::current_path() / "screenshots";
    std::filesystem::create_directories(folder);
    return folder;
}

}  // namespace ovk::test
