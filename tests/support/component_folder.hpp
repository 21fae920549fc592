// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>

#include "platform/files.hpp"
#include "temp_dir.hpp"

namespace ovk::test {

// A copy of the component's data folder in a temporary folder, made the component folder for
// as long as the object lives. Tests remove or replace files in it freely.
class ComponentFolder {
  public:
    explicit ComponentFolder(std::initializer_list<const char*> leaveOut = {}) {
        for (const auto& entry : std::filesystem::directory_iterator(OVK_DATA_DIR)) {
            const std::string name = entry.path().filename().string();
            bool skip = false;
            for (const char* left : leaveOut) skip = skip || name == left;
            if (!skip) std::filesystem::copy_file(entry.path(), dir_ / name);
        }
        files::setComponentDir(dir_.path());
    }
    ~ComponentFolder() { files::setComponentDir(std::nullopt); }

    const std::filesystem::path& path() const { return dir_.path(); }
    std::filesystem::path write(std::string_view name, std::string_view content) const {
        return dir_.write(name, content);
    }
    void remove(std::string_view name) const { std::filesystem::remove(dir_ / name); }

  private:
    TempDir dir_;
};

// A download document of the given type with the given start-up elements (already XML).
inline std::string downloadDocument(
    const std::string& system, const std::string& elements,
    const std::string& project = "<Symbolfile>sym.txt</Symbolfile><Gerfile>ger.txt</Gerfile>") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Download>\n  <System>" + system +
           "</System>\n" + elements + "\n  <Project>" + project + "</Project>\n</Download>\n";
}

}  // namespace ovk::test
