// SPDX-License-Identifier: MIT
#include "qt/message_box.hpp"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <vector>

namespace ovk {
namespace {

// Each button carries its answer, so reading the answer never depends on how the platform
// style orders or labels the buttons.
constexpr const char* kAnswerProperty = "ovkMsgBoxAnswer";

struct ButtonSet {
    std::vector<MsgBoxAnswer> answers;  // in the order First, Second, Third
    MsgBoxAnswer escape;                // what Escape or the window frame means
};

ButtonSet buttonSet(MsgBoxButtons buttons) {
    using A = MsgBoxAnswer;
    switch (buttons) {
        case MsgBoxButtons::OkCancel:
            return {{A::Ok, A::Cancel}, A::Cancel};
        // Escape must give one of the box's own answers; Abort is the choice that stops.
        case MsgBoxButtons::AbortRetryIgnore:
            return {{A::Abort, A::Retry, A::Ignore}, A::Abort};
        case MsgBoxButtons::YesNoCancel:
            return {{A::Yes, A::No, A::Cancel}, A::Cancel};
        case MsgBoxButtons::YesNo:
            return {{A::Yes, A::No}, A::No};
        case MsgBoxButtons::RetryCancel:
            return {{A::Retry, A::Cancel}, A::Cancel};
        case MsgBoxButtons::OkOnly:
        default:
            return {{A::Ok}, A::Ok};
    }
}

QMessageBox::StandardButton standardButton(MsgBoxAnswer answer) {
    switch (answer) {
        case MsgBoxAnswer::Cancel:
            return QMessageBox::Cancel;
        case MsgBoxAnswer::Abort:
            return QMessageBox::Abort;
        case MsgBoxAnswer::Retry:
            return QMessageBox::Retry;
        case MsgBoxAnswer::Ignore:
            return QMessageBox::Ignore;
        case MsgBoxAnswer::Yes:
            return QMessageBox::Yes;
        case MsgBoxAnswer::No:
            return QMessageBox::No;
        case MsgBoxAnswer::Ok:
        default:
            return QMessageBox::Ok;
    }
}

QMessageBox::Icon qtIcon(MsgBoxIcon icon) {
    switch (icon) {
        case MsgBoxIcon::Critical:
            return QMessageBox::Critical;
        case MsgBoxIcon::Question:
            return QMessageBox::Question;
        case MsgBoxIcon::Exclamation:
            return QMessageBox::Warning;
        case MsgBoxIcon::Information:
            return QMessageBox::Information;
        case MsgBoxIcon::None:
        default:
            return QMessageBox::NoIcon;
    }
}

// A default beyond the set's last button selects the last one, as defaultAnswer() does.
size_t defaultIndex(MsgBoxDefault defaultButton, size_t buttonCount) {
    size_t index = 0;
    if (defaultButton == MsgBoxDefault::Second) index = 1;
    if (defaultButton == MsgBoxDefault::Third) index = 2;
    return std::min(index, buttonCount - 1);
}

}  // namespace

std::unique_ptr<QMessageBox> buildMessageBox(const std::string& text, const std::string& title,
                                             MsgBoxButtons buttons, MsgBoxIcon icon,
                                             MsgBoxDefault defaultButton, QWidget* parent) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(QString::fromStdString(title));
    box->setTextFormat(Qt::PlainText);
    box->setText(QString::fromStdString(text));
    box->setIcon(qtIcon(icon));
    box->setWindowModality(Qt::ApplicationModal);

    const ButtonSet set = buttonSet(buttons);
    std::vector<QPushButton*> created;
    for (MsgBoxAnswer answer : set.answers) {
        QPushButton* button = box->addButton(standardButton(answer));
        button->setProperty(kAnswerProperty, static_cast<int>(answer));
        created.push_back(button);
        if (answer == set.escape) box->setEscapeButton(button);
    }
    box->setDefaultButton(created[defaultIndex(defaultButton, created.size())]);
    return box;
}

MsgBoxAnswer answerFor(const QMessageBox& box, const QAbstractButton* clicked) {
    const QAbstractButton* button = clicked != nullptr ? clicked : box.escapeButton();
    if (button == nullptr) return MsgBoxAnswer::Cancel;
    const QVariant answer = button->property(kAnswerProperty);
    return answer.isValid() ? static_cast<MsgBoxAnswer>(answer.toInt()) : MsgBoxAnswer::Cancel;
}

}  // namespace ovk
