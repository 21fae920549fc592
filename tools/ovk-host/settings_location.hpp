#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "platform/settings_store.hpp"

namespace ovk::host {

// The per-user settings store: in `folder` when given, otherwise in the user's configuration
// folder.
std::shared_ptr<SettingsStore> openSettings(const std::optional<std::filesystem::path>& folder);

}  // namespace ovk::host
