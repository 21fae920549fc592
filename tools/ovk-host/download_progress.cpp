#include "download_progress.hpp"

#include <unistd.h>

#include <algorithm>
#include <string>

#include "wizard/frm_wiz.hpp"

namespace ovk::host {

ProgressReportingUserInterface::ProgressReportingUserInterface(std::FILE* out)
    : out_(out), enabled_(::isatty(::fileno(out)) == 1) {}

void ProgressReportingUserInterface::showModal(Form& form) {
    Form* const outer = current_;
    current_ = &form;
    ScriptedUserInterface::showModal(form);
    current_ = outer;
    if (drawn_) {
        std::fputc('\n', out_);
        std::fflush(out_);
        drawn_ = false;
    }
}

void ProgressReportingUserInterface::processPendingEvents() {
    ScriptedUserInterface::processPendingEvents();
    if (!enabled_) return;
    const auto* wizard = dynamic_cast<const frmWiz*>(current_);
    if (wizard == nullptr || !wizard->prgDownload.Visible || wizard->prgDownload.Max <= 0) return;
    draw(out_, wizard->prgDownload.Value, wizard->prgDownload.Max);
    drawn_ = true;
}

void ProgressReportingUserInterface::draw(std::FILE* out, double value, double max) {
    constexpr int kWidth = 40;
    const double done = std::clamp(value, 0.0, max);
    const int filled = static_cast<int>(kWidth * done / max);
    std::string bar(static_cast<std::size_t>(filled), '=');
    if (filled < kWidth) bar += '>';
    bar.resize(kWidth, ' ');
    std::fprintf(out, "\r[%s] %.0f/%.0f items", bar.c_str(), done, max);
    std::fflush(out);
}

}  // namespace ovk::host
