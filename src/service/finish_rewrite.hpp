// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <vector>

#include "xml/cdata_stand_ins.hpp"

namespace ovk {

class DocumentStore;

// Brings the download file into its final form, as the host reads it after DownloadComplete:
//  - beneath every Articleinfo element, COMPONENTS, SYMBOLS and GERS children without child
//    nodes are removed; then every Articleinfo child of the first Project (name compared
//    without regard to case) that has no child nodes left is removed;
//  - the file is written again as indented XML declaring and using UTF-8, with its CDATA
//    sections, comments, processing instructions and document type kept. Text is escaped, so
//    the file stays well-formed whatever it holds.
//
// The file is streamed, never loaded whole: only one Articleinfo at a time is held in memory,
// and large CDATA sections are copied from the old file to the new one without passing through
// the parser (see CDataStandIns), so a download of gigabytes of payloads is rewritten in
// little memory at the speed of the file. The new content replaces the old through the
// document's store (DocumentStore::replace): the download file is never truncated or half
// written, and no copy outlives the next run that holds it.
// Throws Error: FileNotFound when the file is missing, InvalidArgument when it is not
// well-formed, an I/O error naming the file and the cause when it cannot be written.
// `savedSections` are the CDATA sections whose place the download knows (see
// DownloadFileWriter::savedSections): they are copied without being read through first.
void RewriteDownloadFile(DocumentStore& document,
                         std::vector<CDataStandIns::Range> savedSections = {});
// The same, holding the document for the time of the rewrite.
void RewriteDownloadFile(const std::filesystem::path& path);

}  // namespace ovk
