// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

#include "platform/controls.hpp"
#include "platform/user_interface.hpp"

namespace ovk {

// What the splash form raises into its owner, in this order.
class SplashEvents {
  public:
    virtual ~SplashEvents() = default;
    virtual void InitializeEnvironment(const std::string& DownloadFile, int32_t& Result,
                                       int32_t& Init) = 0;
    virtual void InitWizzard() = 0;
};

// The waiting window behind Init and Show. Once on screen it raises one event into its owner,
// which does the work inside it, and closes itself when the event returns.
class frmSplash : public Form {
  public:
    frmSplash(UserInterface& ui, SplashEvents& events);

    std::string_view formName() const override { return "frmSplash"; }

    // Controls.
    Control Image1{.name = "Image1", .hasCaption = false};  // the built-in 677 x 226 picture
    Control lblWarning{
        .name = "lblWarning", .Caption = "Moment bitte ...", .fontName = "Times New Roman"};

    // Values the owner sets before showing the form and reads after it closed.
    std::string DownloadFile;
    int32_t Result = 0;
    int32_t Init = 0;
    int16_t StartParam = 0;  // 0 raises InitializeEnvironment, 1 InitWizzard, others nothing

    const std::string& UiLanguage() const { return uiLanguage_; }
    // Stores the language and localises the form at once.
    void UiLanguage(std::string languageText);

    void formLoad() override;
    void formActivate() override;
    // Any key closes the form.
    void Form_KeyPress(int keyAscii);

    // Sets the captions from the resource file's block for `languageText` (1033 when there is
    // none). Every failing statement is skipped; without the file the built-in captions stay.
    void LocalizeForm(const std::string& languageText);

  private:
    UserInterface& ui_;
    SplashEvents& events_;
    std::string uiLanguage_;
};

}  // namespace ovk
