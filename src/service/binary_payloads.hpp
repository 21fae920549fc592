// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "platform/errors.hpp"
#include "service/record_files.hpp"
#include "xml/document.hpp"

namespace ovk {

// The names of the symbol and GER files that the host gave beneath Project; empty when the
// document is absent or names none (then no such file is written).
std::string GetSymbolFileName(const xml::Document* document);
std::string GetGerFileName(const xml::Document* document);

// A payload that could not be written: the file it was meant for (the document's name, the
// symbol or GER file's name; empty for a document without a name) and why.
struct PayloadFailure {
    std::string file;
    Error cause;
};
using PayloadFailures = std::function<void(const PayloadFailure&)>;

// Writes the payloads of one BINARY element into the folder of the download file: symbol and
// GER records appended to the host's two text files, documents decoded into files of their own.
// A payload that cannot be written (no content, no name or one that is not a plain file name,
// a Base64 text holding a foreign character, a file the system refuses) is handed to `failed`,
// and the writer goes on with the next one: one bad payload costs no other. Nothing is ever
// written outside the folder. Throws Error only when the download file itself is gone.
void WriteBinaryPayloads(xml::Node payload, const xml::Document* document,
                         const std::filesystem::path& downloadFile, RecordFiles& recordFiles,
                         const PayloadFailures& failed);

}  // namespace ovk
