// SPDX-License-Identifier: MIT
// ovk-host-desktop's side of a run with windows: the run goes on here, with the Qt user
// interface.

#include "desktop_run.hpp"
#include "qt/desktop_client_services.hpp"

namespace ovk::host {

std::optional<int> handOverWindowedRun(char**) {
    return std::nullopt;
}

ClientServices desktopServices(std::optional<std::filesystem::path> settingsFolder) {
    return desktopClientServices(std::move(settingsFolder));
}

}  // namespace ovk::host
