// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace ovk {

// Message box choices, with the numbers hosts receive and answer through MessageBox events.
enum class MsgBoxButtons {
    OkOnly = 0,
    OkCancel = 1,
    AbortRetryIgnore = 2,
    YesNoCancel = 3,
    YesNo = 4,
    RetryCancel = 5
};
enum class MsgBoxIcon {
    None = 0,
    Critical = 16,
    Question = 32,
    Exclamation = 48,
    Information = 64
};
enum class MsgBoxDefault { First = 0, Second = 256, Third = 512 };
enum class MsgBoxAnswer { Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

enum class MousePointer { Default = 0, Hourglass = 11 };

// A form the user interface can show modally. The form is a model: it owns its controls'
// state and handlers; a view renders it and forwards the user's input to those handlers.
class Form {
  public:
    virtual ~Form() = default;

    // The form's name, by which a user interface finds the view to render it with.
    virtual std::string_view formName() const = 0;

    // Called by the user interface as the form is shown: load, then the first activation.
    virtual void formLoad() {}
    virtual void formActivate() {}
    // Asked before the form closes by any means; false refuses the close.
    virtual bool formQueryUnload() { return true; }

    bool isShown() const { return shown_; }

    // Called by the user interface when it has put the form on screen.
    void markShown() { shown_ = true; }

    // The form closes itself (or the user closed it and formQueryUnload agreed). The view
    // is told through the close listener and ends its modal loop.
    void close() {
        if (!shown_) return;
        shown_ = false;
        if (closeListener_) closeListener_();
    }
    // Closing by the window frame: honours formQueryUnload. Returns true when it closed.
    bool requestClose() {
        if (!formQueryUnload()) return false;
        close();
        return true;
    }
    void setCloseListener(std::function<void()> listener) { closeListener_ = std::move(listener); }

  private:
    bool shown_ = false;
    std::function<void()> closeListener_;
};

// Everything the component needs from a desktop user interface.
class UserInterface {
  public:
    virtual ~UserInterface() = default;

    virtual MsgBoxAnswer msgBox(const std::string& text, const std::string& title,
                                MsgBoxButtons buttons, MsgBoxIcon icon,
                                MsgBoxDefault defaultButton = MsgBoxDefault::First) = 0;
    virtual void setMousePointer(MousePointer pointer) = 0;
    virtual MousePointer mousePointer() const = 0;
    // Lets pending window messages (painting, input, timers) run once.
    virtual void processPendingEvents() = 0;
    // Shows `form` modally: load, activate, then the user's actions until the form closes.
    // Returns when the form has closed.
    virtual void showModal(Form& form) = 0;
    // The language of the texts the user interface brings itself (standard button captions),
    // as a language identifier: 1033 English, 1031 German, ... Without texts of its own, a user
    // interface ignores it.
    virtual void useLanguage(int32_t /*languageId*/) {}
};

// The answer a message box gives when the user accepts its default button.
MsgBoxAnswer defaultAnswer(MsgBoxButtons buttons, MsgBoxDefault defaultButton);

// Whether `answer` is one of the buttons of `buttons`.
bool isAnswerOf(MsgBoxButtons buttons, MsgBoxAnswer answer);

}  // namespace ovk
