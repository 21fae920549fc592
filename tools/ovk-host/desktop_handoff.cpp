// SPDX-License-Identifier: MIT
// ovk-host's side of a run with windows: it starts ovk-host-desktop in its own place.

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "desktop_run.hpp"
#include "platform/errors.hpp"
#include "platform/files.hpp"

namespace ovk::host {
namespace {

// Installed, ovk-host-desktop is a helper in the libexec folder; in the build tree it has the
// same place relative to bin/. Beside ovk-host is where someone copying both would put it.
std::filesystem::path desktopProgram() {
    std::error_code ec;
    const auto folder = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    const auto helper =
        (folder / OVK_HOST_DESKTOP_FROM_BIN / "ovk-host-desktop").lexically_normal();
    const auto beside = folder / "ovk-host-desktop";
    if (::access(helper.c_str(), X_OK) != 0 && ::access(beside.c_str(), X_OK) == 0) return beside;
    return helper;
}

}  // namespace

std::optional<int> handOverWindowedRun(char** argv) {
    const std::filesystem::path program = desktopProgram();
    // The desktop host lives in another folder, where it would look for the component's files
    // in vain; it gets the folder found here, whichever way it was found.
    ::setenv("OVK_COMPONENT_DIR", files::componentDir().c_str(), 1);
    std::cout.flush();
    ::execv(program.c_str(), argv);
    const int reason = errno;
    std::cerr << "ovk-host: cannot show windows: " << program.string() << ": "
              << std::strerror(reason) << "\n(--batch runs without them)\n";
    return 1;
}

ClientServices desktopServices(std::optional<std::filesystem::path>) {
    throw Error(err::ObjectMissing, "ovk-host shows no windows itself", "ovk-host");
}

}  // namespace ovk::host
