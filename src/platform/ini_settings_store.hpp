// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/settings_store.hpp"

namespace ovk {

// The user's settings in INI files in QSettings' INI format (<folder>/<application>.ini, one
// group per section), read and written without Qt: the desktop and the batch host keep them
// through this one store, and programs that use QSettings on the same files read what it wrote
// and it what they wrote, also while they work on a file at the same time. Section and key
// names may hold any text (a project identifier is a section name); they are encoded so that
// "/" or "\" never nest groups and every text comes back as written.
//
// - read() gives a value as QSettings gives it as text: quoted and escaped values unescaped, a
//   value of several comma-separated items (only a hand-edited file has one) as "" and
//   "@Invalid()" as nothing. Values in Qt's binary forms (@Variant(...), @Rect(...)) read "".
// - write() changes the one line of the key, or adds it to its group, or adds the group at the
//   end; every other line stays as it was. The file is replaced as a whole (a temporary file
//   renamed over it) under QSettings' own lock file, <file>.lock, so that a QSettings writer
//   in another process waits for it and it waits for them (up to 10 s; a lock whose process
//   has ended, or older than 30 s, is broken). A value equal to the stored one is not written.
//   Throws ovk::Error (err::PermissionDenied) when the file cannot be written.
class IniSettingsStore : public SettingsStore {
  public:
    // Keeps the files in `folder`; without one, in the user's configuration folder
    // ($XDG_CONFIG_HOME/ovk_client, usually ~/.config/ovk_client).
    explicit IniSettingsStore(std::optional<std::filesystem::path> folder = std::nullopt);

    const std::filesystem::path& folder() const { return folder_; }

    std::optional<std::string> read(const std::string& application, const std::string& section,
                                    const std::string& key) const override;
    void write(const std::string& application, const std::string& section, const std::string& key,
               const std::string& value) override;

    std::filesystem::path fileOf(const std::string& application) const;

  private:
    std::filesystem::path folder_;
};

}  // namespace ovk
