// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "component/client_services.hpp"

namespace ovk {

// The services of the installed component: the shared SOAP client and shell, the Qt user
// interface, the user's settings in INI files (in `settingsFolder`, or the user's
// configuration folder) and Qt timers.
ClientServices desktopClientServices(
    std::optional<std::filesystem::path> settingsFolder = std::nullopt);

// Makes every default-constructed Client use desktopClientServices(). The shared library does
// this as it is loaded.
void useDesktopClientServices();

}  // namespace ovk
