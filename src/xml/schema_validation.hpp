// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <functional>

#include "xml/document.hpp"

namespace ovk::xml {

// Loads `documentPath` with white space preserved (through `load` when given, otherwise with
// Document::loadFile) and validates it against the XSD at `schemaPath`, registered for the
// empty namespace.
// - Throws ParseError (with line, position and source line of the first problem) when the
//   document is not well-formed or not valid.
// - Throws Error for anything else (the schema cannot be read or compiled, and so on).
Document loadValidated(const std::filesystem::path& schemaPath,
                       const std::filesystem::path& documentPath,
                       const std::function<Document(const std::filesystem::path&)>& load = nullptr);

}  // namespace ovk::xml
