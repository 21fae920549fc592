#pragma once

#include <filesystem>
#include <string>

#include "platform/xml/document.hpp"
#include "service/record_files.hpp"

namespace ovk {

// The names of the symbol and GER files that the host gave beneath Project; empty when the
// document is absent or names none (then no such file is written).
std::string GetSymbolFileName(const xml::Document* document);
std::string GetGerFileName(const xml::Document* document);

// Writes the payloads of one BINARY element into the folder of the download file: symbol and
// GER records appended to the host's two text files, documents decoded into files of their own.
// Stops at the first failing payload and throws its Error; the payloads before it stay
// written. A document whose name is not a plain file name is such a failure: nothing is
// written for it, and nothing is ever written outside the folder.
void WriteBinaryPayloads(xml::Node payload, const xml::Document* document,
                         const std::filesystem::path& downloadFile, RecordFiles& recordFiles);

}  // namespace ovk
