// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

#include "ovk/client.hpp"
#include "platform/scripted_user_interface.hpp"

namespace ovk {

// The user interface of an unattended client: no windows, forms run without a screen, and
// every message box is put to the host, whose answer counts when it is one of the box's
// buttons; otherwise the box's default button does.
class UnattendedUserInterface : public ScriptedUserInterface {
  public:
    // Returns the host's answer to a box: a MsgBoxAnswer value, or 0 for the default.
    using Asker = std::function<int32_t(const MessageBoxRequest&)>;

    // `ask` answers the boxes; `wizardCancelled` is told when a wizard ended for want of a user.
    UnattendedUserInterface(Asker ask, std::function<void()> wizardCancelled)
        : ask_(std::move(ask)), wizardCancelled_(std::move(wizardCancelled)) {}

    MsgBoxAnswer msgBox(const std::string& text, const std::string& title, MsgBoxButtons buttons,
                        MsgBoxIcon icon, MsgBoxDefault defaultButton) override;
    // Runs the form without a window. Nobody is there to choose in the wizard: it closes after
    // its start, and counts as cancelled, so the host hears DownloadCancel rather than nothing.
    void showModal(Form& form) override;

  private:
    Asker ask_;
    std::function<void()> wizardCancelled_;
};

}  // namespace ovk
