// SPDX-License-Identifier: MIT
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/text.hpp"
#include "platform/user_interface.hpp"

namespace ovk {

// A user interface without a screen, for tests and batch runs. Message boxes are answered
// from a queue (the box's default button when the queue is empty) and every box is recorded;
// a modal form runs its load and activation, then the queued user actions until it closes.
class ScriptedUserInterface : public UserInterface {
  public:
    struct Box {
        std::string text;
        std::string title;
        MsgBoxButtons buttons;
        MsgBoxIcon icon;
        MsgBoxDefault defaultButton;
        MsgBoxAnswer answer;
    };
    using Action = std::function<void(Form&)>;

    void queueAnswer(MsgBoxAnswer answer) { answers_.push_back(answer); }
    // An action the "user" performs on the next modal form that is open when it comes up.
    void queueAction(Action action) { actions_.push_back(std::move(action)); }
    // Called for every box as it is answered (batch mode prints them).
    void onBox(std::function<void(const Box&)> observer) { boxObserver_ = std::move(observer); }
    // Called for every pointer change, to check where the hourglass was shown.
    void onPointer(std::function<void(MousePointer)> observer) {
        pointerObserver_ = std::move(observer);
    }
    void onPendingEvents(std::function<void()> hook) { pendingEventsHook_ = std::move(hook); }

    const std::vector<Box>& boxes() const { return boxes_; }
    int pendingEventRuns() const { return pendingEventRuns_; }
    const std::vector<std::string>& shownForms() const { return shownForms_; }

    MsgBoxAnswer msgBox(const std::string& text, const std::string& title, MsgBoxButtons buttons,
                        MsgBoxIcon icon, MsgBoxDefault defaultButton) override {
        MsgBoxAnswer answer = defaultAnswer(buttons, defaultButton);
        if (!answers_.empty()) {
            answer = answers_.front();
            answers_.pop_front();
        }
        // As on screen: a text from a service is shown only up to a sane length.
        boxes_.push_back(
            {boundedText(text), boundedText(title), buttons, icon, defaultButton, answer});
        if (boxObserver_) boxObserver_(boxes_.back());
        return answer;
    }
    void setMousePointer(MousePointer pointer) override {
        pointer_ = pointer;
        if (pointerObserver_) pointerObserver_(pointer);
    }
    MousePointer mousePointer() const override { return pointer_; }
    void processPendingEvents() override {
        ++pendingEventRuns_;
        if (pendingEventsHook_) pendingEventsHook_();
    }
    void showModal(Form& form) override {
        shownForms_.emplace_back(form.formName());
        form.markShown();
        form.formLoad();
        if (form.isShown()) form.formActivate();
        while (form.isShown() && !actions_.empty()) {
            Action action = std::move(actions_.front());
            actions_.pop_front();
            action(form);
        }
        // Nobody left to click: the user closes the window through its frame. A form that
        // refuses (it is busy) is left to close itself; there is no one to wait for.
        if (form.isShown() && !form.requestClose()) form.close();
    }

  private:
    std::deque<MsgBoxAnswer> answers_;
    std::deque<Action> actions_;
    std::vector<Box> boxes_;
    std::vector<std::string> shownForms_;
    std::function<void(const Box&)> boxObserver_;
    std::function<void(MousePointer)> pointerObserver_;
    std::function<void()> pendingEventsHook_;
    MousePointer pointer_ = MousePointer::Default;
    int pendingEventRuns_ = 0;
};

}  // namespace ovk
