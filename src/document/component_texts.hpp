// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace ovk {

// The component's own texts that boxes and Exception descriptions show, beyond the forms'
// captions: the failures of a download, of the connection and of the files. They are made in
// English where they happen, in every layer; the resource file holds each of them per language
// as an Item whose Caption has "%1", "%2", ... where the English text has its variable parts.
//
// LocalizedText gives `text` in the language: each line (texts join lines with CR LF) that is
// one of these texts is replaced by the language's caption, its variable parts filled in and
// themselves translated where they are such texts too (a file's failure names its cause). A
// line that starts with a text the component has always shown word for word ("Error by set
// CAFile", "Fehler: 5007") keeps that start and has the rest translated. Any other line, and
// every line for a language without such items (English among them), stays as it is.
std::string LocalizedText(const std::string& text, int16_t languageId);

// Each text by its resource name, in English as the code makes it.
struct ComponentTextTemplate {
    const char* name;
    const char* english;
};
std::span<const ComponentTextTemplate> ComponentTextTemplates();

}  // namespace ovk
