// SPDX-License-Identifier: MIT
#include "qt/readable_palette.hpp"

#include <algorithm>
#include <cmath>

namespace ovk {
namespace {

double channel(double value) {
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& colour) {
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) +
           0.0722 * channel(rgb.blueF());
}

}  // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette withReadableSelection(QPalette palette, double minimum) {
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        const QColor text = palette.color(group, QPalette::HighlightedText);
        QColor highlight = palette.color(group, QPalette::Highlight);
        if (contrastRatio(text, highlight) >= minimum) continue;
        // Moving the lightness away from the text keeps the hue the user or the style chose.
        // Text above this luminance reads better on black than on white, so black (or white
        // for darker text) is always reached before the steps run out.
        const bool darken = luminance(text) > 0.179;
        float hue = 0, saturation = 0, lightness = 0, alpha = 1;
        highlight.getHslF(&hue, &saturation, &lightness, &alpha);
        hue = std::max(hue, 0.0F);  // a grey has no hue
        while (contrastRatio(text, highlight) < minimum &&
               (darken ? lightness > 0 : lightness < 1)) {
            lightness = std::clamp(lightness + (darken ? -0.01F : 0.01F), 0.0F, 1.0F);
            highlight = QColor::fromHslF(hue, saturation, lightness, alpha);
        }
        palette.setColor(group, QPalette::Highlight, highlight);
    }
    return palette;
}

}  // namespace ovk
