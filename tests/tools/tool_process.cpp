// SPDX-License-Identifier: MIT
#include "tool_process.hpp"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace ovk::test {

CommandResult runTool(const std::string& arguments) {
    const std::string command = std::string("'") + OVK_REFSERVICE_BIN + "' " + arguments + " 2>&1";
    CommandResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace ovk::test
