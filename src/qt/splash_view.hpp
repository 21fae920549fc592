// SPDX-License-Identifier: MIT
#pragma once

#include "qt/form_view.hpp"

class QLabel;

namespace ovk {
class frmSplash;
}

namespace ovk {

// The waiting window: the built-in picture above the localised "please wait" label, frameless
// and centred on the screen, its picture scaled to the screen's logical density. Any key goes
// to the form, which closes itself.
class SplashView : public FormView {
    Q_OBJECT

  public:
    SplashView(frmSplash& form, QWidget* parent = nullptr);

    void render() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    frmSplash& splash_;
    QLabel* image1_;
    QLabel* lblWarning_;
};

}  // namespace ovk
