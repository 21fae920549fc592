// SPDX-License-Identifier: MIT
#include "qt/qt_user_interface.hpp"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <ranges>

#include "component/frm_splash.hpp"
#include "platform/text.hpp"
#include "qt/fallback_view.hpp"
#include "qt/message_box.hpp"
#include "qt/qt_application.hpp"
#include "qt/qt_translations.hpp"
#include "qt/splash_view.hpp"
#include "qt/wizard_view.hpp"
#include "wizard/frm_wiz.hpp"

namespace ovk {
namespace {

// Lifts the hourglass while the user has to answer something, by changing the one override
// cursor rather than pushing a second one.
class ArrowWhileAsking {
  public:
    explicit ArrowWhileAsking(bool overriding) : overriding_(overriding) {
        if (overriding_) QApplication::changeOverrideCursor(Qt::ArrowCursor);
    }
    ~ArrowWhileAsking() {
        if (overriding_) QApplication::changeOverrideCursor(Qt::WaitCursor);
    }
    ArrowWhileAsking(const ArrowWhileAsking&) = delete;
    ArrowWhileAsking& operator=(const ArrowWhileAsking&) = delete;

  private:
    bool overriding_;
};

}  // namespace

QtUserInterface::QtUserInterface() {
    registerView("frmSplash", [](Form& form, QWidget* parent) -> std::unique_ptr<FormView> {
        return std::make_unique<SplashView>(dynamic_cast<frmSplash&>(form), parent);
    });
    registerView("frmWiz", [](Form& form, QWidget* parent) -> std::unique_ptr<FormView> {
        if (auto* wizard = dynamic_cast<frmWiz*>(&form))
            return std::make_unique<WizardView>(*wizard, parent);
        return std::make_unique<FallbackView>(form, parent);
    });
}

QtUserInterface::~QtUserInterface() {
    if (overriding_ && QCoreApplication::instance() != nullptr)
        QApplication::restoreOverrideCursor();
}

void QtUserInterface::ensureReady() const {
    ensureApplication();
    if (language_) useQtTranslations(*language_);
}

// Boxes and the wizard belong to the innermost form on screen, so that they open centred over
// it and stay in front of it. Qt's active window is no guide: under some window managers, and
// offscreen, nothing is active while a form works.
QWidget* QtUserInterface::dialogParent() const {
    for (FormView* view : std::views::reverse(openViews_))
        if (view->isVisible()) return view;
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    return QApplication::activeWindow();
}

void QtUserInterface::registerView(std::string formName, ViewFactory factory) {
    factories_[std::move(formName)] = std::move(factory);
}

std::unique_ptr<FormView> QtUserInterface::makeView(Form& form, QWidget* parent) const {
    const auto it = factories_.find(form.formName());
    if (it != factories_.end()) return it->second(form, parent);
    return std::make_unique<FallbackView>(form, parent);
}

MsgBoxAnswer QtUserInterface::msgBox(const std::string& text, const std::string& title,
                                     MsgBoxButtons buttons, MsgBoxIcon icon,
                                     MsgBoxDefault defaultButton) {
    ensureReady();
    const std::unique_ptr<QMessageBox> box = buildMessageBox(
        boundedText(text), boundedText(title), buttons, icon, defaultButton, dialogParent());
    const ArrowWhileAsking arrow(overriding_);
    if (boxObserver_) boxObserver_(*box);
    box->exec();
    return answerFor(*box, box->clickedButton());
}

void QtUserInterface::setMousePointer(MousePointer pointer) {
    ensureApplication();
    const bool wasBusy = overriding_;
    if (pointer == MousePointer::Hourglass && !overriding_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        overriding_ = true;
    } else if (pointer != MousePointer::Hourglass && overriding_) {
        QApplication::restoreOverrideCursor();
        overriding_ = false;
    }
    pointer_ = pointer;
    if (overriding_ != wasBusy)
        for (FormView* view : openViews_) view->busyChanged(overriding_);
}

void QtUserInterface::processPendingEvents() {
    ensureApplication();
    // Handlers change their models between events; show that before painting.
    renderOpenViews();
    QCoreApplication::processEvents();
    // A close the user asked for while a handler waited for the service.
    for (FormView* view : std::vector<FormView*>(openViews_)) view->closeIfAsked();
}

void QtUserInterface::renderOpenViews() {
    for (FormView* view : openViews_) view->render();
}

void QtUserInterface::showModal(Form& form) {
    ensureReady();
    const std::unique_ptr<FormView> view = makeView(form, dialogParent());
    FormView* const dialog = view.get();

    // The form may be shown again later with another view; the listener must not outlive this
    // one, whichever way we leave.
    struct Detach {
        Form& form;
        std::vector<FormView*>& open;
        ~Detach() {
            form.setCloseListener({});
            open.pop_back();
        }
    };
    openViews_.push_back(dialog);
    const Detach detach{form, openViews_};
    form.setCloseListener([dialog] { dialog->done(QDialog::Accepted); });

    form.markShown();
    dialog->callHandler([&] { form.formLoad(); });
    if (form.isShown() && !dialog->failure()) {
        dialog->render();
        // exec() shows the window before it runs this, so the form's activation (which may
        // work for a long time) starts with the window on screen.
        QTimer::singleShot(0, dialog, [&form, dialog] {
            dialog->callHandler([&] {
                if (form.isShown()) form.formActivate();
            });
            if (form.isShown()) dialog->render();
        });
        // The waiting window has done its part once the wizard is up: left on screen it would
        // show wherever the user moves the wizard away from it. It closes itself afterwards.
        if (auto* splash = qobject_cast<SplashView*>(dialog->parentWidget())) splash->hide();
        dialog->exec();
    }
    // The loop can end without the form's consent only through a failing handler.
    if (form.isShown()) form.close();
    if (dialog->failure()) std::rethrow_exception(dialog->failure());
}

}  // namespace ovk
