// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <exception>
#include <functional>

#include "platform/user_interface.hpp"

namespace ovk {

// The base of every dialog that renders a form model. It turns the user's ways of closing a
// window (the frame, Escape) into a close request the form may refuse, and it keeps a failure
// of a form handler from unwinding through Qt's event loop: the failure ends the modal loop and
// QtUserInterface::showModal rethrows it to its caller, as the screenless interface would.
class FormView : public QDialog {
    Q_OBJECT

  public:
    explicit FormView(Form& form, QWidget* parent = nullptr);

    // The model this view renders.
    Form& form() const { return form_; }

    // Brings the widgets in line with the model. Called after the form loaded, after its
    // activation and whenever pending events are processed; views call it after their
    // handlers too.
    virtual void render() {}

    // The form set the hourglass (true) or took it away (false): long work starts or ended.
    // Runs inside the form's handler; a view may show news of the work from its own timers,
    // which keep running while the form waits for the service.
    virtual void busyChanged(bool /*busy*/) {}

    // Runs a handler of the model. A failure is kept for showModal and ends the modal loop.
    void callHandler(const std::function<void()>& handler);

    // The failure of a handler that ended the modal loop, if any.
    std::exception_ptr failure() const { return failure_; }

    // Puts a close that came while the form waited for the service to the form now.
    void closeIfAsked();

  protected:
    // Whether a close that comes while the form waits for the service is kept for later
    // rather than ignored: for forms whose close means more than closing (stopping a download).
    virtual bool keepsCloseWhileWaiting() const { return false; }

  public slots:
    // The frame and Escape end up here: the form decides whether it closes.
    void reject() override;

  private:
    Form& form_;
    std::exception_ptr failure_;
    bool closeAsked_ = false;
};

}  // namespace ovk
