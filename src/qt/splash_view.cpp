#include "qt/splash_view.hpp"

#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

#include "component/frm_splash.hpp"

// Resources compiled into a static library register themselves only when asked to.
static void initSplashResources() {
    Q_INIT_RESOURCE(ovk_qt);
}

namespace ovk {
namespace {

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

    image1_->setObjectName(QStringLiteral("Image1"));
    image1_->setPixmap(QPixmap(QStringLiteral(":/ovk_client/splash.png")));
    image1_->setFixedSize(677, 226);

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
    lblWarning_->setText(QString::fromStdString(splash_.lblWarning.Caption));
    if (!splash_.lblWarning.fontName.empty()) {
        QFont font = lblWarning_->font();
        font.setFamilies({QString::fromStdString(splash_.lblWarning.fontName)});
        lblWarning_->setFont(font);
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
