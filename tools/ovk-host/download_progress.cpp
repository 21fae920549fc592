// SPDX-License-Identifier: MIT
#include "download_progress.hpp"

#include <unistd.h>

#include <algorithm>
#include <string>

namespace ovk::host {

TerminalProgress::TerminalProgress(std::FILE* out)
    : out_(out), enabled_(::isatty(::fileno(out)) == 1) {}

TerminalProgress::~TerminalProgress() {
    endLine();
}

void TerminalProgress::update(int32_t done, int32_t total) {
    if (!enabled_ || total <= 0) return;
    draw(out_, done, total);
    drawn_ = true;
    if (done >= total) endLine();
}

void TerminalProgress::endLine() {
    if (!drawn_) return;
    std::fputc('\n', out_);
    std::fflush(out_);
    drawn_ = false;
}

void TerminalProgress::draw(std::FILE* out, double value, double max) {
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
