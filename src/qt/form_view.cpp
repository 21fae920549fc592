// SPDX-License-Identifier: MIT
#include "qt/form_view.hpp"

#include "qt/service_wait.hpp"

namespace ovk {

FormView::FormView(Form& form, QWidget* parent) : QDialog(parent), form_(form) {}

void FormView::callHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        if (!failure_) failure_ = std::current_exception();
        done(QDialog::Rejected);
    }
}

void FormView::reject() {
    // The form's handler is busy waiting for the service; closing now would run its close
    // handler inside that one. The window system's close button does nothing meanwhile, unless
    // the form keeps the close for when pending events run again.
    if (waitingForService()) {
        closeAsked_ = keepsCloseWhileWaiting();
        return;
    }
    if (!form_.isShown()) {
        QDialog::reject();
        return;
    }
    // A form that agrees closes itself, and its close listener ends the modal loop; one that
    // refuses stays on screen, and QDialog ignores the close event because we are still visible.
    callHandler([this] { form_.requestClose(); });
}

void FormView::closeIfAsked() {
    if (!closeAsked_) return;
    closeAsked_ = false;
    reject();
}

}  // namespace ovk
