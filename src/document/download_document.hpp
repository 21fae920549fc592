// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "xml/cdata_stand_ins.hpp"
#include "xml/document.hpp"

namespace ovk {

// The text a failing operation of this module starts with; callers compare its first five
// characters without regard to case.
bool isErrorText(const std::string& text);

// The download document at `path`, parsed as Document::loadFile parses it, except that the
// large CDATA sections of the last download's items (the Articleinfo children of the first
// Project) reach the parser as short stand-ins (see CDataStandIns). Nothing reads them there:
// the next download removes the items before its first save, and Finish copies them from the
// file. Without the stand-ins a document over the parser's limit for one text (a payload of
// 1 GiB) would not open at all, and every payload would be held in memory for nothing. The
// texts the start-up reads by name (System and the settings) are read as they are, should one
// of them lie inside an item. Throws what Document::loadFile throws.
// With `itemSections`, it receives where the large texts of the items stand in the file, in
// file order.
xml::Document LoadDownloadDocument(const std::filesystem::path& path,
                                   std::vector<CDataStandIns::Range>* itemSections = nullptr);

// The text of the first System element of the document at `path`: the project type ("TARVO",
// "MERIDO"). Empty when there is none or the file is not XML; "Error by Loading XML-File" when
// reading fails otherwise.
std::string GetProjectType(const std::filesystem::path& path);

// The path of the schema for a project type in `folder` (type + "_download.xsd", matched
// without regard to case), or "Error Schema File not found" / "Error Building Schema Name".
std::string BuildSchemaFileName(const std::string& projectType,
                                const std::filesystem::path& folder);

// The document at `documentPath`, validated against the schema at `schemaPath`, or nothing.
// A document that is not well-formed or not valid stores the detail text as the component's
// validation text; any other failure leaves that text as it was.
std::shared_ptr<xml::Document> ValidateDocument(
    const std::filesystem::path& schemaPath, const std::filesystem::path& documentPath,
    std::vector<CDataStandIns::Range>* itemSections = nullptr);

// The detail text of a failed validation: reason, line break, "on Line: " line, " Position: "
// position, line break, source line.
std::string validationDetail(const xml::ParseFailure& failure);

}  // namespace ovk
