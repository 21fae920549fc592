// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <cstdint>
#include <string_view>

namespace ovk {

// What a screen reader says for a control of the wizard whose caption says nothing on its own
// (">>", an arrow icon, a picture, a list without a caption), in the wizard's language.
struct AccessibleText {
    QString name;
    QString description;
};

// The texts for the control `control` (its form name, "cmdRightOne") in the language
// `languageId` (1031 German, 1033 English, ...): German for every German identifier, English
// otherwise. Empty texts for a control whose caption already says what it is.
AccessibleText wizardAccessibleText(std::string_view control, int32_t languageId);

// Says, in the wizard's language, that this is step `step` of `steps`, for the announcement
// of a new step ("Step 2 of 3").
QString wizardStepText(int step, int steps, int32_t languageId);

}  // namespace ovk
