#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/manual_clock.hpp"
#include "platform/scripted_user_interface.hpp"

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

// Queues the actions on `ui` for the wizard when it opens. Each acts only through the
// handlers that a user's clicks reach; the half-second wait of the tree is `clock` advancing.
// A failing action throws ScriptError out of the modal wizard.
void queueWizardScript(ScriptedUserInterface& ui, ManualClock& clock,
                       const std::vector<WizardAction>& actions);

}  // namespace ovk::host
