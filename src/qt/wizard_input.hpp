// SPDX-License-Identifier: MIT
#pragma once

#include <Qt>

namespace ovk {

// The wizard form's handlers take keys, shift states and mouse buttons as numbers of their own
// (the codes the key handlers compare with, 1 Shift + 2 Ctrl + 4 Alt, the form's button
// numbers); these turn Qt's into them. What has no such number gives 0, which the form ignores.
int formKeyCode(int qtKey);
int formShift(Qt::KeyboardModifiers modifiers);
int formButton(Qt::MouseButton button);

}  // namespace ovk
