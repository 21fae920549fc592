// SPDX-License-Identifier: MIT
#pragma once

#include <QPixmap>
#include <QSize>

namespace ovk {

// The wizard's banner for a band of `size` logical pixels on a screen of `devicePixelRatio`:
// painted, not scaled, so it stays sharp at any density.
QPixmap designBanner(QSize size, qreal devicePixelRatio);

// A banner picture (the service's, beside the document) covering a band of `size` logical
// pixels: scaled to leave no empty strip below or beside it, its left top corner kept, and what
// reaches past the band on the right or at the bottom cut off.
QPixmap bannerFillingBand(const QPixmap& picture, QSize size, qreal devicePixelRatio);

}  // namespace ovk
