// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QPalette>

namespace ovk {

// The contrast ratio of two colours as WCAG 2.1 defines it, from 1 (the same luminance) to 21
// (black on white); the order of the two does not matter.
double contrastRatio(const QColor& a, const QColor& b);

// `palette` with selected rows whose text reads at `minimum` contrast or more: where the
// highlight is too close to the highlighted text, the highlight is darkened (or lightened,
// under dark text) in its own hue until it is not. A palette that already reads well, the
// user's own included, comes back unchanged.
QPalette withReadableSelection(QPalette palette, double minimum = 4.5);

}  // namespace ovk
