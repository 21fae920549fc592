// SPDX-License-Identifier: MIT
#include "qt/twips.hpp"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace ovk {

TwipsScale::TwipsScale(double logicalDpi) : dpi_(logicalDpi > 0 ? logicalDpi : 96.0) {}

TwipsScale TwipsScale::of(const QWidget& widget) {
    const QScreen* screen = widget.screen();
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    return TwipsScale(screen != nullptr ? screen->logicalDotsPerInch() : 96.0);
}

int TwipsScale::toPixels(double twips) const {
    return static_cast<int>(std::lround(twips * dpi_ / kTwipsPerInch));
}

double TwipsScale::toTwips(int pixels) const {
    return pixels * kTwipsPerInch / dpi_;
}

QRect TwipsScale::rect(const Control& control, QSize natural) const {
    const int width = control.Width > 0 ? toPixels(control.Width) : natural.width();
    const int height = control.Height > 0 ? toPixels(control.Height) : natural.height();
    return {toPixels(control.Left), toPixels(control.Top), width, height};
}

}  // namespace ovk
