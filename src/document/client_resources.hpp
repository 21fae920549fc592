// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "xml/node.hpp"

namespace ovk {

// The component's resource file (user-interface texts per language) and language file
// (project language names to numeric identifiers), both in the component folder.
inline constexpr const char* kResourceFileName = "ovk_client.xml";
inline constexpr const char* kLanguageFileName = "nls.xml";
inline constexpr int16_t kFallbackLanguage = 1033;
inline constexpr const char* kBannerFileName = "Banner1.jpg";

// True when a file of that name (compared without regard to case) is in the component folder.
bool FileExistsInAppPath(const std::string& fileName);

// True when the resource file exists, parses and has a Language block for `languageId`.
bool IsGuiLanguageAvailable(int16_t languageId);

// The numeric identifier the language file gives for a project language name, or 0 when the
// file cannot be loaded or does not know the name. The name is compared exactly, whatever
// characters it holds. Throws Error 13/6 when the identifier attribute is not a 16-bit number.
int16_t GetNlsLanguageId(const std::string& languageName);

// The new-version question in the given language, or the English fallback text.
std::string GetNewVersionText(const std::string& languageIdText);

// Decodes the banner picture (the client-data element's first child, a CDATA section) into
// Banner1.jpg beside the download document. Throws Error when the first child is not a CDATA
// section or the file cannot be written.
void SaveBannerImage(const xml::Node& clientData, const std::filesystem::path& downloadFile);

}  // namespace ovk
