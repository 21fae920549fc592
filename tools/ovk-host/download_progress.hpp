// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <cstdio>

namespace ovk::host {

// The download's progress as a bar on a terminal, one update per article. It draws only when
// its stream is a terminal: logs and pipes get nothing extra.
class TerminalProgress {
  public:
    explicit TerminalProgress(std::FILE* out = stderr);
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    // Shows that `done` of `total` articles are through; the last one ends the line.
    void update(int32_t done, int32_t total);

    // Draws "[=====>    ] value/max items", replacing the line drawn before.
    static void draw(std::FILE* out, double value, double max);

  private:
    void endLine();

    std::FILE* out_;
    bool enabled_;
    bool drawn_ = false;
};

}  // namespace ovk::host
