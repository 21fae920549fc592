// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <string>

#include "platform/user_interface.hpp"

class QAbstractButton;
class QMessageBox;
class QWidget;

namespace ovk {

// The box QtUserInterface::msgBox shows, built apart from showing it so that its buttons, icon
// and default can be checked before anyone sees it. The text is plain: a caption or a service
// text that happens to contain markup is shown as it is, never interpreted. Values outside
// the enums (a host passing raw numbers) fall back to an OK box without an icon.
std::unique_ptr<QMessageBox> buildMessageBox(const std::string& text, const std::string& title,
                                             MsgBoxButtons buttons, MsgBoxIcon icon,
                                             MsgBoxDefault defaultButton,
                                             QWidget* parent = nullptr);

// The answer the box gives for `clicked`; nullptr (closed without a button) gives the answer
// of the box's escape button: Cancel or No where the box has one.
MsgBoxAnswer answerFor(const QMessageBox& box, const QAbstractButton* clicked);

}  // namespace ovk
