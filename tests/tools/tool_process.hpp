// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace ovk::test {

struct CommandResult {
    int exitCode = -1;   // -1 when the tool did not exit normally
    std::string output;  // standard output and standard error together
};

// Runs ovk-refservice to its end with `arguments` (shell words) and collects what it printed.
CommandResult runTool(const std::string& arguments);

}  // namespace ovk::test
