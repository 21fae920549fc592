// SPDX-License-Identifier: MIT
#pragma once

#include <QRect>

#include "platform/controls.hpp"

class QWidget;

namespace ovk {

// Form models keep their geometry in twips, 1440 to the logical inch. A view converts with the
// logical DPI of the screen it is on, so that a form keeps its designed proportions on a
// high-DPI screen: at 96 dpi a pixel is 15 twips.
class TwipsScale {
  public:
    static constexpr double kTwipsPerInch = 1440.0;

    explicit TwipsScale(double logicalDpi = 96.0);
    // The scale of the screen `widget` is on (or the primary screen).
    static TwipsScale of(const QWidget& widget);

    int toPixels(double twips) const;
    double toTwips(int pixels) const;
    // The control's rectangle in its container; a control without a size keeps `natural`.
    QRect rect(const Control& control, QSize natural = {}) const;

  private:
    double dpi_;
};

}  // namespace ovk
