// SPDX-License-Identifier: MIT
#include "qt/splash_view.hpp"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "component/frm_splash.hpp"

// Resources compiled into a static library register themselves only when asked to.
static void initSplashResources() {
    Q_INIT_RESOURCE(ovk_qt);
}

namespace ovk {
namespace {

// The picture's size in pixels at 96 dots per inch, the density it was drawn for.
constexpr int kPictureWidth = 677;
constexpr int kPictureHeight = 226;

// The screen the splash opens on: the one under the mouse, where the user is looking.
QScreen* targetScreen() {
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos())) return screen;
    return QGuiApplication::primaryScreen();
}

// A screen set to a higher logical density (a large-font setting) gets a larger picture, so
// the window keeps its proportion to the text around it.
double scaleFor(const QScreen* screen) {
    if (screen == nullptr) return 1.0;
    return std::max(1.0, screen->logicalDotsPerInch() / 96.0);
}

void applyControl(QWidget& widget, const Control& control) {
    widget.setVisible(control.Visible);
    widget.setEnabled(control.Enabled);
}

}  // namespace

SplashView::SplashView(frmSplash& form, QWidget* parent)
    : FormView(form, parent),
      splash_(form),
      image1_(new QLabel(this)),
      lblWarning_(new QLabel(this)) {
    initSplashResources();
    setWindowTitle(QStringLiteral("ovk_client"));
    setObjectName(QStringLiteral("frmSplash"));
    // A waiting window, not one to move, maximise or close: no frame.
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);

    const double scale = scaleFor(targetScreen());
    const QSize pictureSize(static_cast<int>(std::lround(kPictureWidth * scale)),
                            static_cast<int>(std::lround(kPictureHeight * scale)));
    image1_->setObjectName(QStringLiteral("Image1"));
    image1_->setPixmap(QPixmap(QStringLiteral(":/ovk_client/splash.png"))
                           .scaled(pictureSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    image1_->setFixedSize(pictureSize);

    lblWarning_->setObjectName(QStringLiteral("lblWarning"));
    lblWarning_->setTextFormat(Qt::PlainText);
    lblWarning_->setAlignment(Qt::AlignCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->addWidget(image1_);
    layout->addWidget(lblWarning_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    render();
}

void SplashView::render() {
    applyControl(*image1_, splash_.Image1);
    applyControl(*lblWarning_, splash_.lblWarning);
    // The label reads in the desktop's font, as the picture's lettering and every other window
    // of the component do; a serif face of its own made the window look patched together.
    lblWarning_->setText(QString::fromStdString(splash_.lblWarning.Caption));
}

void SplashView::showEvent(QShowEvent* event) {
    FormView::showEvent(event);
    // Centred on the screen, whatever window it belongs to; QDialog would centre it over its
    // parent, which is the host's window or nothing.
    if (QScreen* screen = targetScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void SplashView::keyPressEvent(QKeyEvent* event) {
    // Only keys that type a character are key presses to the form; Shift or an arrow alone
    // are not.
    const QString text = event->text();
    if (text.isEmpty()) {
        FormView::keyPressEvent(event);
        return;
    }
    const int keyAscii = text.front().unicode();
    callHandler([&] { splash_.Form_KeyPress(keyAscii); });
}

}  // namespace ovk
