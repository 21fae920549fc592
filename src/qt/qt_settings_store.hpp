#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/settings_store.hpp"

namespace ovk {

// The user's settings in INI files, one per application: <folder>/<application>.ini, one INI
// group per section. Section and key names may hold any text (a project identifier is a
// section name); they are encoded so that "/" or "\" never nest groups and every text comes
// back as written.
class QtSettingsStore : public SettingsStore {
  public:
    // Keeps the files in `folder`; without one, in the user's configuration folder
    // ($XDG_CONFIG_HOME/ovk_client, usually ~/.config/ovk_client).
    explicit QtSettingsStore(std::optional<std::filesystem::path> folder = std::nullopt);

    // The folder that holds the files.
    const std::filesystem::path& folder() const { return folder_; }

    std::optional<std::string> read(const std::string& application, const std::string& section,
                                    const std::string& key) const override;
    // Throws ovk::Error when the file cannot be written, so a lost setting is never silent.
    void write(const std::string& application, const std::string& section, const std::string& key,
               const std::string& value) override;

    // The file that holds the settings of `application`.
    std::filesystem::path fileOf(const std::string& application) const;

  private:
    std::filesystem::path folder_;
};

}  // namespace ovk
