// SPDX-License-Identifier: MIT
#pragma once

#include <QLabel>

namespace ovk {

// A label that acts as a link, for the mouse and the keyboard alike: a hand cursor, a place
// in the tab order, Enter and Space, and an underline besides its colour when it shows text.
// A left click released over it, Enter or Space is a click. Screen readers meet it as a link
// with a press action, under its accessible name or else its text.
class ClickableLabel : public QLabel {
    Q_OBJECT

  public:
    explicit ClickableLabel(QWidget* parent = nullptr);

  signals:
    void clicked();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace ovk
