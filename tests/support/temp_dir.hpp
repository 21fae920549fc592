// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace ovk::test {

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }
    // Writes `content` to `name` inside the folder and returns the file's path.
    std::filesystem::path write(std::string_view name, std::string_view content) const;

  private:
    std::filesystem::path path_;
};

std::string readAll(const std::filesystem::path& path);

}  // namespace ovk::test
