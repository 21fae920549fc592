// SPDX-License-Identifier: MIT
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "ovk/client.hpp"

namespace ovk::host {

// One thing the scripted user does in the wizard, in the order given on the command line.
struct WizardAction {
    enum class Kind { Fields, Leaf, Mark, Unmark, Finish, Cancel };
    Kind kind;
    std::string argument;  // field names, a leaf path, "all" or article identifiers
};

// The script asked for something the wizard does not show (a field, a tree path, an article):
// a usage error, with what there is instead.
struct ScriptError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Checks the order of the actions: at most one --finish or --cancel, and it comes last.
// Throws ScriptError.
void checkWizardScript(const std::vector<WizardAction>& actions);

// Acts the script out on an initialised client through its public members alone, as any host
// that picks articles itself would: fields by name, leaves by the values on their path, marks
// kept in the order given, and Finish as a download of the marked articles. Throws
// ScriptError for a step naming what is not there, ovk::Error when the component fails.
void playWizardScript(Client& client, const std::vector<WizardAction>& actions);

}  // namespace ovk::host
