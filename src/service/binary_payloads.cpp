#include "service/binary_payloads.hpp"

#include <libxml/tree.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "codec/ascii_bytes.hpp"
#include "codec/encoding.hpp"
#include "platform/confined_folder.hpp"
#include "platform/errors.hpp"
#include "platform/text.hpp"

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

// The data of a payload record: its first child's character data. A service that has to send
// "]]>" splits the text over adjacent CDATA sections, so those are joined again; taking the
// first section alone would cut the record short.
std::string recordData(xml::Node record) {
    xml::Node child = record.firstChild();
    if (!child) {
        throw Error(err::ObjectMissing,
                    "The payload element " + record.localName() + " has no content");
    }
    if (child.kind() != xml::NodeKind::CData && child.kind() != xml::NodeKind::Text) {
        throw Error(err::InvalidArgument,
                    "The payload element " + record.localName() + " holds no character data");
    }
    std::string data;
    for (; child && (child.kind() == xml::NodeKind::CData || child.kind() == xml::NodeKind::Text);
         child = child.nextSibling()) {
        data += child.text();
    }
    return data;
}

// Decodes the way WriteBase64File does. Base64 is ASCII, where the code page conversion
// changes nothing, so the usual text is decoded where it lies, checked as it is decoded; only
// a text holding other characters takes the conversion first.
ByteBuffer decodeBase64(std::string_view text, const Encoding& encoding) {
    // Not cleared before it is written: a fresh output of tens of megabytes would otherwise
    // be filled twice.
    ByteBuffer bytes;
    if (encoding.DecodeB64Digits(codec_detail::asBytes(text), bytes)) return bytes;
    if (codec_detail::isAscii(codec_detail::asBytes(text))) {
        encoding.DecodeB64(codec_detail::asBytes(text), bytes);
        return bytes;
    }
    std::vector<uint8_t> encoded;
    encoding.Str2ByteArray(text, encoded);
    encoding.DecodeB64(encoded, bytes);
    return bytes;
}

// Texts longer than this are decoded into the file a piece at a time when they allow it: the
// whole decoded document would otherwise sit in memory beside its text.
constexpr std::size_t kPieceChars = std::size_t{4} << 20;  // a multiple of four

// A text that turned out not to be well-formed Base64 while it was decoded in pieces.
struct NotInPieces {};

// Decodes a text into `write` a piece at a time, four characters to three bytes, which gives
// what decoding it whole gives as long as it is well-formed Base64 ("=" only at its end).
// Each piece is checked as it is decoded; at the first that is not, throws NotInPieces, and
// the text has to take the decoder's exact path, which looks across groups.
void decodeInPieces(std::string_view text, const Encoding& encoding,
                    const files::ConfinedFolder::ContentSink& write) {
    ByteBuffer bytes;
    for (std::size_t at = 0; at < text.size(); at += kPieceChars) {
        const std::string_view piece = text.substr(at, kPieceChars);
        const bool last = at + piece.size() == text.size();
        if ((!last && piece.back() == '=') ||
            !encoding.DecodeB64Digits(codec_detail::asBytes(piece), bytes)) {
            throw NotInPieces{};
        }
        write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
}

// A document's Base64 text: when it is one character-data node, as services send it, it is
// read in place rather than copied.
template <class Use>
void withRecordData(xml::Node record, Use use) {
    const xml::Node first = record.firstChild();
    const bool single =
        first && (first.kind() == xml::NodeKind::CData || first.kind() == xml::NodeKind::Text) &&
        !(first.nextSibling() && (first.nextSibling().kind() == xml::NodeKind::CData ||
                                  first.nextSibling().kind() == xml::NodeKind::Text));
    if (single && first.raw()->content != nullptr) {
        use(std::string_view(reinterpret_cast<const char*>(first.raw()->content)));
    } else {
        use(std::string_view(recordData(record)));
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
                         const std::filesystem::path& downloadFile, RecordFiles& recordFiles) {
    std::error_code ec;
    if (!std::filesystem::exists(downloadFile, ec)) {
        throw Error(err::FileNotFound, "File not found: " + downloadFile.string());
    }
    const std::filesystem::path folder =
        downloadFile.has_parent_path() ? downloadFile.parent_path() : std::filesystem::path(".");
    if (!payload.hasChildNodes()) return;

    for (xml::Node group = payload.firstChild(); group; group = group.nextSibling()) {
        const std::string kind = asciiUpper(group.localName());
        if (!group.hasChildNodes()) continue;
        if (kind == "SYMBOLS" || kind == "GERS") {
            const bool symbols = kind == "SYMBOLS";
            const std::string name =
                symbols ? GetSymbolFileName(document) : GetGerFileName(document);
            if (name.empty()) continue;
            const std::filesystem::path path = folder / name;
            for (xml::Node record = group.firstChild(); record; record = record.nextSibling()) {
                const std::string data = recordData(record);
                if (symbols) {
                    recordFiles.AppendSymbolRecord(path, data);
                } else {
                    recordFiles.AppendGerRecord(path, data);
                }
            }
        } else if (kind == "DOCUMENTS") {
            files::ConfinedFolder target(folder);
            recordFiles.journalPayloadsIn(target, downloadFile);
            for (xml::Node file = group.firstChild(); file; file = file.nextSibling()) {
                withRecordData(file, [&](std::string_view data) {
                    const std::optional<std::string> name = file.attribute("Name");
                    if (!name) throw Error(err::InvalidArgument, "A document payload has no Name");
                    files::ConfinedFolder::checkPlainName(*name);
                    // Flushed to disk with the download file's next save (see
                    // DownloadFileWriter): one flush per file would cost more than fetching it.
                    const Encoding encoding;
                    if (data.size() > kPieceChars && data.size() % 4 == 0) {
                        try {
                            target.replaceFileWith(
                                *name,
                                [&](const files::ConfinedFolder::ContentSink& write) {
                                    decodeInPieces(data, encoding, write);
                                },
                                false);
                            return;
                        } catch (const NotInPieces&) {
                            // Nothing was written: the file is made whole below.
                        }
                    }
                    const ByteBuffer bytes = decodeBase64(data, encoding);
                    target.replaceFile(
                        *name,
                        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                        false);
                });
            }
        }
    }
}

}  // namespace ovk
