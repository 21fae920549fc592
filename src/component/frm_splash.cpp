// SPDX-License-Identifier: MIT
#include "component/frm_splash.hpp"

#include <initializer_list>

#include "document/resource_items.hpp"
#include "platform/errors.hpp"

namespace ovk {
namespace {

// A resource item's caption goes to the control of its name, when that shows one; a caption
// that cannot be set is skipped and the others still go in.
void takeCaption(std::initializer_list<Control*> controls, const ResourceItem& item) {
    for (Control* control : controls) {
        if (!control->hasCaption || control->name != item.name) continue;
        skipOnError([&] { control->Caption = item.caption.value_or(std::string()); });
    }
}

}  // namespace

frmSplash::frmSplash(UserInterface& ui, SplashEvents& events) : ui_(ui), events_(events) {}

void frmSplash::UiLanguage(std::string languageText) {
    uiLanguage_ = std::move(languageText);
    LocalizeForm(uiLanguage_);
}

void frmSplash::formLoad() {
    LocalizeForm(uiLanguage_);
}

void frmSplash::formActivate() {
    // Paint the window once so the user sees it before the work blocks the thread.
    if (StartParam == 0) {
        ui_.processPendingEvents();
        events_.InitializeEnvironment(DownloadFile, Result, Init);
    } else if (StartParam == 1) {
        ui_.processPendingEvents();
        events_.InitWizzard();
    }
    close();
}

void frmSplash::Form_KeyPress(int) {
    close();
}

void frmSplash::LocalizeForm(const std::string& languageText) {
    skipOnError([&] {
        const auto items = LoadResourceItems(languageText);
        if (!items) return;
        for (const ResourceItem& item : *items) takeCaption({&Image1, &lblWarning}, item);
    });
}

}  // namespace ovk
