// SPDX-License-Identifier: MIT
#include "qt/banner.hpp"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace ovk {
namespace {

QSize devicePixels(QSize size, qreal devicePixelRatio) {
    return {static_cast<int>(std::ceil(size.width() * devicePixelRatio)),
            static_cast<int>(std::ceil(size.height() * devicePixelRatio))};
}

}  // namespace

QPixmap designBanner(QSize size, qreal devicePixelRatio) {
    QPixmap banner(devicePixels(size, devicePixelRatio));
    banner.setDevicePixelRatio(devicePixelRatio);
    QPainter painter(&banner);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal width = size.width();
    const qreal height = size.height();
    QLinearGradient sky(0, 0, width, 0);
    sky.setColorAt(0, QColor(11, 47, 107));
    sky.setColorAt(1, QColor(58, 123, 192));
    painter.fillRect(QRectF(0, 0, width, height), sky);

    // Rings around a point near the right end, as on the service's own pages.
    const QPointF centre(width - 96, height / 2);
    painter.setPen(QPen(QColor(255, 255, 255, 40), 1));
    for (int ring = 1; ring <= 6; ++ring) {
        const qreal radius = height * 0.15 * ring;
        painter.drawEllipse(centre, radius, radius);
    }

    // The lettering keeps its size while the band shrinks, down to what the band holds.
    const qreal lettering = std::min(1.0, height / 100.0);
    QFont title = painter.font();
    title.setBold(true);
    title.setPixelSize(std::max(12, static_cast<int>(std::lround(32 * lettering))));
    painter.setFont(title);
    painter.setPen(Qt::white);
    painter.drawText(QPointF(24, height * 0.52), QStringLiteral("QUORVEL"));
    QFont subtitle = painter.font();
    subtitle.setBold(false);
    subtitle.setPixelSize(std::max(9, static_cast<int>(std::lround(15 * lettering))));
    painter.setFont(subtitle);
    painter.setPen(QColor(255, 255, 255, 220));
    painter.drawText(QPointF(26, height * 0.78), QStringLiteral("Data Service Client"));
    return banner;
}

QPixmap bannerFillingBand(const QPixmap& picture, QSize size, qreal devicePixelRatio) {
    const QSize target = devicePixels(size, devicePixelRatio);
    QPixmap covering =
        picture.scaled(target, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation)
            .copy(QRect(QPoint(0, 0), target));
    covering.setDevicePixelRatio(devicePixelRatio);
    return covering;
}

}  // namespace ovk
