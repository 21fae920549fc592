// SPDX-License-Identifier: MIT
#include "component/unattended_user_interface.hpp"

namespace ovk {

MsgBoxAnswer UnattendedUserInterface::msgBox(const std::string& text, const std::string& title,
                                             MsgBoxButtons buttons, MsgBoxIcon icon,
                                             MsgBoxDefault defaultButton) {
    const MsgBoxAnswer fallback = defaultAnswer(buttons, defaultButton);
    const MessageBoxRequest request{text, title, static_cast<int32_t>(buttons),
                                    static_cast<int32_t>(icon), static_cast<int32_t>(fallback)};
    const int32_t given = ask_ ? ask_(request) : 0;
    const auto answer = static_cast<MsgBoxAnswer>(given);
    // A host that answers with a button the box does not have gets the default rather than an
    // answer no user could have given.
    queueAnswer(given != 0 && isAnswerOf(buttons, answer) ? answer : fallback);
    return ScriptedUserInterface::msgBox(text, title, buttons, icon, defaultButton);
}

void UnattendedUserInterface::showModal(Form& form) {
    ScriptedUserInterface::showModal(form);
    if (form.formName() == "frmWiz" && wizardCancelled_) wizardCancelled_();
}

}  // namespace ovk
