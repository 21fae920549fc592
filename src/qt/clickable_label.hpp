#pragma once

#include <QLabel>

namespace ovk {

// A label that acts as a link: a hand cursor, and a left click released over it is a click.
class ClickableLabel : public QLabel {
    Q_OBJECT

  public:
    explicit ClickableLabel(QWidget* parent = nullptr);

  signals:
    void clicked();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace ovk
