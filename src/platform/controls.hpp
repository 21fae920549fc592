// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace ovk {

// The state of one control of a form model, with the properties the forms use. A view renders
// it; handlers and tests read and change it directly.
struct Control {
    std::string name{};
    std::string Caption{};
    bool hasCaption = true;  // pictures, trees and timers have none and are passed over
    bool Enabled = true;
    bool Visible = true;
    int Left = 0;  // position and size in twips (15 to a pixel at 96 dpi)
    int Top = 0;
    int Width = 0;  // 0: the view's natural size
    int Height = 0;
    int ForeColor = -1;  // 0xRRGGBB; -1: the view's default colour
    std::string Tag{};
    std::string fontName{};  // empty: the form's font
};

}  // namespace ovk
