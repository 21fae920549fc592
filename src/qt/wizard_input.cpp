// SPDX-License-Identifier: MIT
// What the user does with keys and the mouse in the wizard's window, as the form's handlers
// take it.

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTreeView>

#include "qt/wizard_input.hpp"
#include "qt/wizard_view.hpp"
#include "wizard/frm_wiz.hpp"

namespace ovk {

int formKeyCode(int key) {
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 112 + (key - Qt::Key_F1);
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return key;
    switch (key) {
        case Qt::Key_Backspace:
            return 8;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return 9;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 13;
        case Qt::Key_Shift:
            return 16;
        case Qt::Key_Control:
            return 17;
        case Qt::Key_Alt:
            return 18;
        case Qt::Key_Escape:
            return 27;
        case Qt::Key_Space:
            return 32;
        case Qt::Key_PageUp:
            return 33;
        case Qt::Key_PageDown:
            return 34;
        case Qt::Key_End:
            return 35;
        case Qt::Key_Home:
            return 36;
        case Qt::Key_Left:
            return 37;
        case Qt::Key_Up:
            return 38;
        case Qt::Key_Right:
            return 39;
        case Qt::Key_Down:
            return 40;
        case Qt::Key_Insert:
            return 45;
        case Qt::Key_Delete:
            return 46;
        default:
            return 0;
    }
}

int formShift(Qt::KeyboardModifiers modifiers) {
    return (modifiers.testFlag(Qt::ShiftModifier) ? 1 : 0) |
           (modifiers.testFlag(Qt::ControlModifier) ? 2 : 0) |
           (modifiers.testFlag(Qt::AltModifier) ? 4 : 0);
}

int formButton(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton:
            return frmWiz::LeftButton;
        case Qt::RightButton:
            return frmWiz::RightButton;
        case Qt::MiddleButton:
            return frmWiz::MiddleButton;
        default:
            return 0;
    }
}

bool WizardView::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyRelease:
            keyReleased(watched, *static_cast<QKeyEvent*>(event));
            break;
        case QEvent::MouseButtonPress:
            if (tvTree_ != nullptr && watched == tvTree_->viewport())
                treeSelectionsAtPress_ = treeSelections_;
            break;
        case QEvent::MouseButtonRelease:
            if (lvList_ != nullptr && watched == lvList_->viewport())
                listMouseReleased(*static_cast<QMouseEvent*>(event));
            break;
        case QEvent::KeyPress:
            if (watched == lvList_ && asksForMenu(*static_cast<QKeyEvent*>(event))) {
                openListMenuFromKeyboard();
                return true;
            }
            break;
        case QEvent::ContextMenu:
            // The menu key asks for the list's menu as a right click on the current row would.
            if (lvList_ != nullptr && (watched == lvList_ || watched == lvList_->viewport()) &&
                static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
                openListMenuFromKeyboard();
                return true;
            }
            break;
        default:
            break;
    }
    return FormView::eventFilter(watched, event);
}

void WizardView::keyReleased(QObject* watched, const QKeyEvent& key) {
    // The release reaches every parent of the focused control; the form hears it once.
    QWidget* focus = QApplication::focusWidget();
    const bool first =
        watched == focus || (watched == this && (focus == nullptr || !isAncestorOf(focus)));
    if (!first || key.isAutoRepeat()) return;
    const int code = formKeyCode(key.key());
    if (code == 0) return;
    const int shift = formShift(key.modifiers());
    run([this, code, shift] { wiz_.Form_KeyUp(code, shift); });
}

void WizardView::listMouseReleased(const QMouseEvent& mouse) {
    const int button = formButton(mouse.button());
    if (button == 0) return;
    const QPointF at = mouse.position();
    const int shift = formShift(mouse.modifiers());
    run([this, button, shift, at] {
        wiz_.lvList_MouseUp(button, shift, scale_.toTwips(static_cast<int>(at.x())),
                            scale_.toTwips(static_cast<int>(at.y())));
    });
}

bool WizardView::asksForMenu(const QKeyEvent& key) {
    // The two keys that ask for a context menu everywhere else; the window system turns at
    // most the first into a menu request, and not on every platform.
    const bool menuKey = key.key() == Qt::Key_Menu ||
                         (key.key() == Qt::Key_F10 && key.modifiers() == Qt::ShiftModifier);
    return menuKey && !key.isAutoRepeat();
}

void WizardView::openListMenuFromKeyboard() {
    // One key press can arrive both as itself and as the window system's menu request.
    if (QApplication::activePopupWidget() != nullptr) return;
    const QRect row = lvList_->visualRect(lvList_->currentIndex());
    const QPoint at = row.isValid() ? row.center() : QPoint(0, 0);
    menuFromKeyboard_ = true;
    run([this, at] {
        wiz_.lvList_MouseUp(frmWiz::RightButton, 0, scale_.toTwips(at.x()), scale_.toTwips(at.y()));
    });
    menuFromKeyboard_ = false;
}

}  // namespace ovk
