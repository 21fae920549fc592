#pragma once

#include <cstdio>

#include "platform/scripted_user_interface.hpp"

namespace ovk::host {

// A screenless user interface that draws the wizard's download progress as a bar on standard
// error, one update per item (the Finish loop lets pending events run before each item). It
// draws only when standard error is a terminal: logs and pipes get nothing extra.
class ProgressReportingUserInterface : public ScriptedUserInterface {
  public:
    explicit ProgressReportingUserInterface(std::FILE* out = stderr);

    void showModal(Form& form) override;
    void processPendingEvents() override;

    // Draws "[=====>    ] value/max items", replacing the line drawn before.
    static void draw(std::FILE* out, double value, double max);

  private:
    std::FILE* out_;
    bool enabled_;
    Form* current_ = nullptr;
    bool drawn_ = false;
};

}  // namespace ovk::host
