// SPDX-License-Identifier: MIT
#include "service/binary_payloads.hpp"

#include <libxml/tree.h>

#include <optional>

#include "codec/base64_text.hpp"
#include "codec/encoding.hpp"
#include "platform/confined_folder.hpp"
#include "platform/errors.hpp"
#include "platform/text.hpp"
#include "xml/character_data.hpp"

namespace ovk {
namespace {

// The first Project's first child element of that name. Found by walking down from the root
// rather than by searching the whole document, which holds every payload downloaded so far.
std::string projectChildText(const xml::Document* document, std::string_view name) {
    if (document == nullptr) return {};
    const xml::Node project = document->firstElementByName("Project");
    for (xml::Node child = project.firstChild(); child; child = child.nextSibling()) {
        if (child.isElement() && child.name() == name) return child.text();
    }
    return {};
}

// The data of a payload record: its character data, in CDATA sections or as plain text.
std::string recordData(xml::Node record) {
    if (!record.firstChild()) {
        throw Error(err::ObjectMissing,
                    "The payload element " + record.localName() + " has no content");
    }
    std::optional<std::string> data = xml::characterData(record);
    if (!data) {
        throw Error(err::InvalidArgument,
                    "The payload element " + record.localName() + " holds no character data");
    }
    return std::move(*data);
}

// A document's Base64 text: when it is one node, as services send it, it is read in place
// rather than copied.
template <class Use>
void withRecordData(xml::Node record, Use use) {
    // An empty document is an element without content where Base64 travels as element text.
    if (!record.hasChildNodes()) return use(std::string_view());
    const xml::Node sole = xml::soleCharacterDataNode(record);
    if (sole && sole.raw()->content != nullptr) {
        use(std::string_view(reinterpret_cast<const char*>(sole.raw()->content)));
    } else {
        use(std::string_view(recordData(record)));
    }
}

// Runs the writing of one payload; a failure is handed to `failed` with the file it was meant
// for, and the writer goes on with the next payload.
template <class Write>
void writeOne(const std::string& file, const PayloadFailures& failed, Write write) {
    try {
        write();
    } catch (...) {
        failed(PayloadFailure{file, currentError()});
    }
}

// The records of a SYMBOLS or GERS group, appended to the host's file of that kind; none when
// the document names no such file.
void writeRecords(xml::Node group, bool symbols, const xml::Document* document,
                  const std::filesystem::path& folder, RecordFiles& recordFiles,
                  const PayloadFailures& failed) {
    const std::string name = symbols ? GetSymbolFileName(document) : GetGerFileName(document);
    if (name.empty()) return;
    const std::filesystem::path path = folder / name;
    for (xml::Node record = group.firstChild(); record; record = record.nextSibling()) {
        // Layout between the records of an indented reply is no record.
        if (!record.isElement()) continue;
        writeOne(name, failed, [&] {
            const std::string data = recordData(record);
            if (symbols) return recordFiles.AppendSymbolRecord(path, data);
            recordFiles.AppendGerRecord(path, data);
        });
    }
}

// One document payload, decoded into the file its Name gives.
void writeDocument(xml::Node file, const files::ConfinedFolder& target) {
    const std::optional<std::string> name = file.attribute("Name");
    if (!name) throw Error(err::InvalidArgument, "A document payload has no Name");
    files::ConfinedFolder::checkPlainName(*name);
    withRecordData(file, [&](std::string_view data) {
        // Flushed to disk with the download file's next save (see DownloadFileWriter): one
        // flush per file would cost more than fetching it.
        const Encoding encoding;
        DecodeBase64Text(data, encoding, [&](const auto& produce) {
            target.replaceFileWith(*name, produce, false);
        });
    });
}

void writeDocuments(xml::Node group, const std::filesystem::path& folder,
                    const std::filesystem::path& downloadFile, RecordFiles& recordFiles,
                    const PayloadFailures& failed) {
    files::ConfinedFolder target(folder);
    recordFiles.journalPayloadsIn(target, downloadFile);
    for (xml::Node file = group.firstChild(); file; file = file.nextSibling()) {
        if (!file.isElement()) continue;
        writeOne(file.attribute("Name").value_or(std::string()), failed,
                 [&] { writeDocument(file, target); });
    }
}

}  // namespace

std::string GetSymbolFileName(const xml::Document* document) {
    return projectChildText(document, "Symbolfile");
}

std::string GetGerFileName(const xml::Document* document) {
    return projectChildText(document, "Gerfile");
}

void WriteBinaryPayloads(xml::Node payload, const xml::Document* document,
                         const std::filesystem::path& downloadFile, RecordFiles& recordFiles,
                         const PayloadFailures& failed) {
    std::error_code ec;
    if (!std::filesystem::exists(downloadFile, ec)) {
        throw Error(err::FileNotFound, "File not found: " + downloadFile.string());
    }
    const std::filesystem::path folder =
        downloadFile.has_parent_path() ? downloadFile.parent_path() : std::filesystem::path(".");
    for (xml::Node group = payload.firstChild(); group; group = group.nextSibling()) {
        if (!group.hasChildNodes()) continue;
        const std::string kind = asciiUpper(group.localName());
        if (kind == "SYMBOLS" || kind == "GERS") {
            writeRecords(group, kind == "SYMBOLS", document, folder, recordFiles, failed);
        } else if (kind == "DOCUMENTS") {
            writeDocuments(group, folder, downloadFile, recordFiles, failed);
        }
    }
}

}  // namespace ovk
