// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <optional>

#include "component/client_services.hpp"

namespace ovk::host {

// Runs that show windows need the Qt user interface, and loading its libraries costs a batch
// run or a check more than everything else they do. So ovk-host carries no window code: it
// hands such a run to ovk-host-desktop, the same host linked with the Qt user interface. Each
// program links one definition of these two functions.

// ovk-host: replaces this process with ovk-host-desktop, given the same arguments and the
// component folder this process found. Returns only when that program cannot be started,
// having said why on standard error, with the exit status to end with.
// ovk-host-desktop: returns nothing; the run goes on in this process.
std::optional<int> handOverWindowedRun(char** argv);

// The services of a run with windows: the Qt user interface, the user's settings in
// `settingsFolder` (or the user's configuration folder) and Qt timers. Only ovk-host-desktop
// has them; ovk-host throws ovk::Error.
ClientServices desktopServices(std::optional<std::filesystem::path> settingsFolder);

}  // namespace ovk::host
