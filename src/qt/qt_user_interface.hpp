// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/user_interface.hpp"

namespace ovk {

class FormView;

// The desktop user interface: Qt message boxes, the override cursor and modal dialogs that
// render the forms. Creates the QApplication on first use when the host has none.
class QtUserInterface : public UserInterface {
  public:
    // Makes the view of one form; the view renders `form` and is shown modally over `parent`.
    using ViewFactory = std::function<std::unique_ptr<FormView>(Form& form, QWidget* parent)>;

    // Knows the views of the splash form and the wizard; other forms get a plain fallback dialog
    // until their view is registered.
    QtUserInterface();
    ~QtUserInterface() override;
    QtUserInterface(const QtUserInterface&) = delete;
    QtUserInterface& operator=(const QtUserInterface&) = delete;

    // Uses `factory` for every form whose formName() is `formName`.
    void registerView(std::string formName, ViewFactory factory);

    // Called with every message box right before it runs its modal loop, for hosts that
    // script the desktop (and for tests that answer it).
    void onMessageBox(std::function<void(QWidget& box)> observer) {
        boxObserver_ = std::move(observer);
    }

    MsgBoxAnswer msgBox(const std::string& text, const std::string& title, MsgBoxButtons buttons,
                        MsgBoxIcon icon, MsgBoxDefault defaultButton) override;
    void setMousePointer(MousePointer pointer) override;
    MousePointer mousePointer() const override { return pointer_; }
    void processPendingEvents() override;
    // Brings every open window in line with its form, for changes made outside the windows'
    // own handlers (a timer's tick).
    void renderOpenViews();
    void showModal(Form& form) override;
    // Qt's own texts follow it from the next box or window on.
    void useLanguage(int32_t languageId) override { language_ = languageId; }

  private:
    // The application object, speaking the chosen language.
    void ensureReady() const;
    // The window a new dialog belongs to: the innermost form shown, else Qt's modal window.
    QWidget* dialogParent() const;

    std::unique_ptr<FormView> makeView(Form& form, QWidget* parent) const;

    std::map<std::string, ViewFactory, std::less<>> factories_;
    std::vector<FormView*> openViews_;  // innermost last
    std::function<void(QWidget&)> boxObserver_;
    MousePointer pointer_ = MousePointer::Default;
    bool overriding_ = false;  // whether we hold the one override cursor we ever push
    std::optional<int32_t> language_;
};

}  // namespace ovk
