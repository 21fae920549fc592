// SPDX-License-Identifier: MIT
#include "qt/accessible_texts.hpp"

#include <array>

#include "qt/qt_translations.hpp"

namespace ovk {
namespace {

struct Entry {
    std::string_view control;
    const char* nameEn;
    const char* descriptionEn;
    const char* nameDe;
    const char* descriptionDe;
};

// The resource file gives these controls punctuation, an icon or nothing; a host's resource
// file cannot be relied on to name them, so the names live with the view.
constexpr std::array kEntries{
    Entry{"lstAll", "", "Fields not in the tree. A double click adds a field.", "",
          "Felder, die nicht im Baum stehen. Ein Doppelklick f\u00fcgt ein Feld hinzu."},
    Entry{"lstSelected", "",
          "The levels of the tree, from the top. A double click removes a field.", "",
          "Die Ebenen des Baums, von oben. Ein Doppelklick entfernt ein Feld."},
    Entry{"cmdRightOne", "Add field", "", "Feld hinzuf\u00fcgen", ""},
    Entry{"cmdRightAll", "Add all fields", "", "Alle Felder hinzuf\u00fcgen", ""},
    Entry{"cmdLeftAll", "Remove all fields", "", "Alle Felder entfernen", ""},
    Entry{"cmdLeftOne", "Remove field", "", "Feld entfernen", ""},
    Entry{"cmdUp", "Move up", "Moves the selected field one level up.", "Nach oben",
          "Verschiebt das ausgew\u00e4hlte Feld eine Ebene nach oben."},
    Entry{"cmdDown", "Move down", "Moves the selected field one level down.", "Nach unten",
          "Verschiebt das ausgew\u00e4hlte Feld eine Ebene nach unten."},
    Entry{"tvTree", "Structure", "Choose a leaf to list its articles.", "Struktur",
          "W\u00e4hlen Sie ein Blatt, um seine Artikel aufzulisten."},
    Entry{"lvList", "Articles",
          "Space marks an article for download. The Menu key or Shift+F10 marks or clears all.",
          "Artikel",
          "Die Leertaste markiert einen Artikel f\u00fcr den Download. Die Men\u00fctaste oder "
          "Umschalt+F10 markiert alle oder hebt die Markierung auf."},
    Entry{"prgDownload", "Download progress", "", "Downloadfortschritt", ""},
    Entry{"Image1", "Open the provider's web page", "", "Webseite des Anbieters \u00f6ffnen", ""},
    Entry{"lblMailToQuorvel", "", "Opens a mail to the provider.", "",
          "\u00d6ffnet eine E-Mail an den Anbieter."},
};

bool german(int32_t languageId) {
    return localeOfLanguageId(languageId) == "de";
}

}  // namespace

AccessibleText wizardAccessibleText(std::string_view control, int32_t languageId) {
    for (const Entry& entry : kEntries) {
        if (entry.control != control) continue;
        if (german(languageId))
            return {QString::fromUtf8(entry.nameDe), QString::fromUtf8(entry.descriptionDe)};
        return {QString::fromUtf8(entry.nameEn), QString::fromUtf8(entry.descriptionEn)};
    }
    return {};
}

QString wizardStepText(int step, int steps, int32_t languageId) {
    const QString pattern =
        german(languageId) ? QStringLiteral("Schritt %1 von %2") : QStringLiteral("Step %1 of %2");
    return pattern.arg(step).arg(steps);
}

}  // namespace ovk
