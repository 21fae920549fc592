#include "settings_location.hpp"

#include "qt/qt_settings_store.hpp"

namespace ovk::host {

std::shared_ptr<SettingsStore> openSettings(const std::optional<std::filesystem::path>& folder) {
    return std::make_shared<QtSettingsStore>(folder);
}

}  // namespace ovk::host
