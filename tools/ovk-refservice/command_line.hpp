// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "catalog_generator.hpp"
#include "soap_service.hpp"

namespace ovk::refservice {

struct CommandLine {
    enum class Mode { Serve, Generate, Help };
    Mode mode = Mode::Serve;
    std::filesystem::path catalog;
    // When set, the service stops itself once this process is no longer its parent, so that a
    // test runner that crashes does not leave it behind.
    int parentPid = 0;
    ServiceSettings service;
    GeneratorSettings generator;
};

// Throws std::invalid_argument with a message fit for the user.
CommandLine parseCommandLine(const std::vector<std::string>& args);

std::string usageText();

}  // namespace ovk::refservice
