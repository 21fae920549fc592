// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

namespace ovk {

// The locale name ("de", "fr", ...) of a Windows language identifier (1031 German, 1036
// French, ...), by its primary language; empty for English and for identifiers we do not know.
std::string localeOfLanguageId(int32_t languageId);

// Makes Qt's own texts (standard button captions, context menus) speak the language of
// `languageId`, from Qt's translation catalogues (Debian: qt6-translations-l10n). English, an
// unknown language or a missing catalogue leaves Qt's built-in English. Needs the application
// object; switching languages replaces the previous catalogue.
void useQtTranslations(int32_t languageId);

}  // namespace ovk
