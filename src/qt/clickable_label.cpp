// SPDX-License-Identifier: MIT
#include "qt/clickable_label.hpp"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>

namespace ovk {
namespace {

// QLabel speaks as static text or a picture, which a screen reader offers nothing to do with.
class LinkAccessible : public QAccessibleWidget {
  public:
    explicit LinkAccessible(ClickableLabel* label) : QAccessibleWidget(label, QAccessible::Link) {}

    QString text(QAccessible::Text kind) const override {
        QString said = QAccessibleWidget::text(kind);
        if (kind == QAccessible::Name && said.isEmpty())
            said = static_cast<const ClickableLabel*>(widget())->text();
        return said;
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.linked = true;
        return state;
    }

    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override {
        if (action == pressAction()) {
            emit static_cast<ClickableLabel*>(widget())->clicked();
            return;
        }
        QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface* linkFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("ovk::ClickableLabel") && object->isWidgetType())
        return new LinkAccessible(static_cast<ClickableLabel*>(object));
    return nullptr;
}

// Qt keeps the factory for the whole process, but a host may unload this library before it
// ends: the factory leaves with the library.
struct LinkFactoryRegistration {
    LinkFactoryRegistration() { QAccessible::installFactory(linkFactory); }
    ~LinkFactoryRegistration() { QAccessible::removeFactory(linkFactory); }
    LinkFactoryRegistration(const LinkFactoryRegistration&) = delete;
    LinkFactoryRegistration& operator=(const LinkFactoryRegistration&) = delete;
};

}  // namespace

ClickableLabel::ClickableLabel(QWidget* parent) : QLabel(parent) {
    static const LinkFactoryRegistration registration;
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    // Colour alone does not tell a link from a label.
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event) {
    // A press dragged off the label before release is the user changing their mind.
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void ClickableLabel::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && !event->isAutoRepeat()) {
        event->accept();
        emit clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

}  // namespace ovk
