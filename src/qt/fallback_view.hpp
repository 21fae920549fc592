// SPDX-License-Identifier: MIT
#pragma once

#include "qt/form_view.hpp"

namespace ovk {

// A temporary shell for a form that has no view of its own yet: a dialog titled with the
// form's name and a Close button. It lets the form's load and activation run and the user
// close it, so everything around the form works before its real view exists. Replace it by
// registering the form's view with QtUserInterface::registerView.
class FallbackView : public FormView {
    Q_OBJECT

  public:
    explicit FallbackView(Form& form, QWidget* parent = nullptr);
};

}  // namespace ovk
