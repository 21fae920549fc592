// SPDX-License-Identifier: MIT
#pragma once

#include <vector>

namespace ovk {

// One axis of a form laid out for a screen smaller than the form was designed for. The form's
// coordinates (twips) stay as designed; spans marked elastic (a list's height, the space between
// two buttons) give up the missing length between them, in proportion to their lengths, while
// everything outside them keeps its size. A position maps to where it lands once the spans have
// shrunk, so a control whose both edges are mapped shrinks with the spans it covers, and one
// mapped by its corner alone keeps its size and moves.
//
// No span gives up more than kMaxShrink of its length: what is still missing then is left to
// the window's scroll bars.
class ElasticAxis {
  public:
    struct Span {
        int from;
        int to;
    };
    static constexpr double kMaxShrink = 0.6;

    ElasticAxis() = default;
    // `missing`: how much shorter than designed the axis must become (nothing when <= 0).
    ElasticAxis(const std::vector<Span>& spans, double missing);

    double map(double position) const;
    // How much shorter the axis became, at most `missing`.
    double taken() const { return taken_; }
    // How much shorter the stretch from `from` to `to` became.
    double takenBetween(double from, double to) const {
        return (to - from) - (map(to) - map(from));
    }

  private:
    struct Shrinking {
        Span span;
        double by;
    };
    std::vector<Shrinking> spans_;
    double taken_ = 0;
};

}  // namespace ovk
