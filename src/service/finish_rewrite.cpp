// SPDX-License-Identifier: MIT
#include "service/finish_rewrite.hpp"

#include <fcntl.h>
#include <libxml/xmlreader.h>
#include <libxml/xmlsave.h>
#include <libxml/xmlwriter.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "platform/text.hpp"
#include "service/document_store.hpp"
#include "xml/cdata_stand_ins.hpp"
#include "xml/libxml_handles.hpp"

namespace ovk {
namespace {

using xml::detail::toString;
using xml::detail::xmlText;

// The writer's output: gathered in large pieces, written to the temporary file, the first
// failure kept.
struct Sink {
    static constexpr std::size_t kBlock = std::size_t{1} << 20;
    int fd = -1;
    int errnum = 0;
    off_t written = 0;  // the output's size so far
    std::string buffer;

    void flush() {
        writeOut(buffer);
        buffer.clear();
    }
    // Large pieces (payload text copied from the file) go to the file as they are.
    void put(std::string_view bytes) {
        if (errnum != 0) return;
        if (bytes.size() >= kBlock) {
            flush();
            writeOut(bytes);
            return;
        }
        buffer.append(bytes);
        if (buffer.size() >= kBlock) flush();
    }
    // Copies [offset, offset + length) of `from` to the end of the output, inside the kernel
    // where it can.
    void copy(int from, off_t offset, std::uint64_t length) {
        flush();
        const off_t end = offset + static_cast<off_t>(length);
        while (errnum == 0 && length > 0) {
            const ssize_t copied =
                ::copy_file_range(from, &offset, fd, &written, static_cast<std::size_t>(length), 0);
            if (copied < 0 && errno == EINTR) continue;
            if (copied <= 0) break;
            length -= static_cast<std::uint64_t>(copied);
        }
        // File systems that cannot copy (or a short copy): the rest through memory.
        std::string block;
        while (errnum == 0 && length > 0) {
            block.resize(static_cast<std::size_t>(std::min<std::uint64_t>(length, kBlock)));
            const ssize_t got = ::pread(from, block.data(), block.size(), offset);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                errnum = got < 0 ? errno : EIO;
                break;
            }
            writeOut(std::string_view(block.data(), static_cast<std::size_t>(got)));
            offset += got;
            length -= static_cast<std::uint64_t>(got);
        }
        if (errnum == 0) releaseSource(from, end);
    }
    static int write(void* context, const char* data, int length) {
        auto* sink = static_cast<Sink*>(context);
        if (sink->errnum != 0) return -1;
        sink->put(std::string_view(data, static_cast<std::size_t>(length)));
        return sink->errnum == 0 ? length : -1;
    }

  private:
    // The old document is read once, front to back, and goes when the new one takes its place:
    // what lies before the payload just copied is given back to the page cache at once, so
    // that rewriting a document of gigabytes does not hold it twice in memory. Only advice;
    // pages not yet on disk stay.
    void releaseSource(int from, off_t to) {
        if (to - sourceReleasedTo < kReleaseEvery) return;
        ::posix_fadvise(from, sourceReleasedTo, to - sourceReleasedTo, POSIX_FADV_DONTNEED);
        sourceReleasedTo = to;
    }
    static constexpr off_t kReleaseEvery = off_t{32} << 20;
    off_t sourceReleasedTo = 0;

    // At explicit offsets, as copy_file_range() writes: neither moves the file position.
    void writeOut(std::string_view bytes) {
        if (errnum != 0 || bytes.empty()) return;
        errnum = DocumentStore::writeAt(fd, bytes, written);
        written += static_cast<off_t>(bytes.size());
    }
};

// CDATA content written as sections: a "]]>" in it (where the parser joined two adjacent
// sections) ends one section and starts the next, so the file stays well-formed. Content comes
// in pieces; a "]]>" may straddle two of them.
class CDataContent {
  public:
    explicit CDataContent(Sink& sink) : sink_(sink) {}

    void put(std::string_view bytes) {
        constexpr std::string_view kSplit = "]]]]><![CDATA[>";
        while (!bytes.empty()) {
            if (!held_.empty()) {
                if (held_ == "]]" && bytes.front() == '>') {
                    sink_.put(kSplit);
                    held_.clear();
                    bytes.remove_prefix(1);
                    continue;
                }
                if (bytes.front() == ']') {
                    if (held_ == "]]") sink_.put("]");
                    held_ = "]]";
                    bytes.remove_prefix(1);
                    continue;
                }
                sink_.put(held_);
                held_.clear();
            }
            const std::size_t at = findCDataEnd(bytes);
            if (at != std::string_view::npos) {
                sink_.put(bytes.substr(0, at));
                sink_.put(kSplit);
                bytes.remove_prefix(at + 3);
                continue;
            }
            std::size_t keep = 0;
            while (keep < 2 && keep < bytes.size() && bytes[bytes.size() - 1 - keep] == ']') ++keep;
            sink_.put(bytes.substr(0, bytes.size() - keep));
            held_ = std::string(bytes.substr(bytes.size() - keep));
            bytes = {};
        }
    }
    void finish() {
        sink_.put(held_);
        held_.clear();
    }

  private:
    Sink& sink_;
    std::string held_;  // up to two ']' that may begin a "]]>"
};

struct ReaderFree {
    void operator()(xmlTextReader* p) const { xmlFreeTextReader(p); }
};
struct WriterFree {
    void operator()(xmlTextWriter* p) const { xmlFreeTextWriter(p); }
};

bool isWhitespaceOnly(const xmlChar* text) {
    if (text == nullptr) return true;
    for (; *text != 0; ++text) {
        if (*text != ' ' && *text != '\t' && *text != '\r' && *text != '\n') return false;
    }
    return true;
}

bool isResultGroup(const xmlNode* node) {
    if (node->type != XML_ELEMENT_NODE) return false;
    const std::string name = asciiUpper(toString(node->name));
    return name == "COMPONENTS" || name == "SYMBOLS" || name == "GERS";
}

std::string qualifiedName(const xmlNode* node) {
    if (node->ns != nullptr && node->ns->prefix != nullptr)
        return toString(node->ns->prefix) + ":" + toString(node->name);
    return toString(node->name);
}

// Empty result groups go from every Articleinfo in the subtree (the subtree's root included).
void removeEmptyResultGroups(xmlNode* root) {
    std::vector<xmlNode*> pending{root};
    while (!pending.empty()) {
        xmlNode* node = pending.back();
        pending.pop_back();
        if (node->type != XML_ELEMENT_NODE) continue;
        const bool articleinfo = qualifiedName(node) == "Articleinfo";
        for (xmlNode* child = node->children; child != nullptr;) {
            xmlNode* next = child->next;
            if (articleinfo && isResultGroup(child) && child->children == nullptr) {
                xmlUnlinkNode(child);
                xmlFreeNode(child);
            } else {
                pending.push_back(child);
            }
            child = next;
        }
    }
}

class Rewriter {
  public:
    Rewriter(xmlTextWriter* writer, xmlTextReader* reader, Sink& sink,
             const CDataStandIns& standIns)
        : writer_(writer), reader_(reader), sink_(sink), standIns_(standIns) {}

    void run() {
        int status = xmlTextReaderRead(reader_);
        while (status == 1) {
            status = step();
        }
        if (status < 0) throw Error(err::InvalidArgument, "The download file cannot be read");
        flushWhitespace(false);
        check(xmlTextWriterEndDocument(writer_));
    }

  private:
    // Handles the reader's current node; returns what the next read gave.
    int step() {
        const int type = xmlTextReaderNodeType(reader_);
        const int depth = xmlTextReaderDepth(reader_);
        switch (type) {
            case XML_READER_TYPE_ELEMENT:
                return element(depth);
            case XML_READER_TYPE_END_ELEMENT:
                flushWhitespace(true);
                if (!hadChild_.empty()) hadChild_.pop_back();
                check(xmlTextWriterEndElement(writer_));
                leftElement(depth);
                break;
            case XML_READER_TYPE_TEXT:
            case XML_READER_TYPE_WHITESPACE:
            case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
                text(xmlTextReaderConstValue(reader_));
                break;
            case XML_READER_TYPE_CDATA:
                beforeChild();
                writeCData(xmlTextReaderConstValue(reader_));
                break;
            case XML_READER_TYPE_COMMENT:
                beforeChild();
                check(xmlTextWriterWriteComment(writer_, xmlTextReaderConstValue(reader_)));
                break;
            case XML_READER_TYPE_PROCESSING_INSTRUCTION:
                beforeChild();
                check(xmlTextWriterWritePI(writer_, xmlTextReaderConstName(reader_),
                                           xmlTextReaderConstValue(reader_)));
                break;
            case XML_READER_TYPE_ENTITY_REFERENCE:
                beforeChild();
                check(
                    xmlTextWriterWriteFormatRaw(writer_, "&%s;", xmlTextReaderConstName(reader_)));
                return xmlTextReaderNext(reader_);
            case XML_READER_TYPE_DOCUMENT_TYPE:
                writeDocumentType();
                break;
            default:
                break;
        }
        return xmlTextReaderRead(reader_);
    }

    // An element's start; an article (with its empty result groups removed) is written whole,
    // or left out when nothing is left of it. Returns what the next read gave.
    int element(int depth) {
        const std::string name = toString(xmlTextReaderConstName(reader_));
        const std::string local = toString(xmlTextReaderConstLocalName(reader_));
        const bool projectChild = inProject_ && depth == projectDepth_ + 1;
        if (name == "Articleinfo" ||
            (projectChild && equalsIgnoringAsciiCase(local, "Articleinfo"))) {
            xmlNode* subtree = xmlTextReaderExpand(reader_);
            if (subtree == nullptr) return -1;
            removeEmptyResultGroups(subtree);
            const bool dropped = projectChild && equalsIgnoringAsciiCase(local, "Articleinfo") &&
                                 subtree->children == nullptr;
            if (!dropped) {
                beforeChild();
                writeSubtree(subtree);
            }
            return xmlTextReaderNext(reader_);
        }
        beforeChild();
        if (!projectSeen_ && name == "Project") {
            projectSeen_ = true;
            inProject_ = true;
            projectDepth_ = depth;
        }
        check(xmlTextWriterStartElement(writer_, xmlText(name)));
        writeAttributes(xmlTextReaderCurrentNode(reader_));
        if (xmlTextReaderIsEmptyElement(reader_)) {
            check(xmlTextWriterEndElement(writer_));
            leftElement(depth);
        } else {
            hadChild_.push_back(false);
        }
        return xmlTextReaderRead(reader_);
    }

    // The content goes straight to the file, payload text copied from the download file where
    // it stands in for it; the writer only opens and closes the section.
    void writeCData(const xmlChar* value) {
        check(xmlTextWriterStartCDATA(writer_));
        // Marks the element as having text, as writing the content through the writer would.
        check(xmlTextWriterWriteRawLen(writer_, xmlText(""), 0));
        check(xmlTextWriterFlush(writer_));
        const std::string_view text = value == nullptr
                                          ? std::string_view()
                                          : std::string_view(reinterpret_cast<const char*>(value));
        if (const auto range = standIns_.wholeSection(text)) {
            sink_.copy(standIns_.fd(), range->offset, range->length);
            check(xmlTextWriterEndCDATA(writer_));
            return;
        }
        CDataContent content(sink_);
        standIns_.expand(text, [&](std::string_view piece) { content.put(piece); });
        content.finish();
        check(xmlTextWriterEndCDATA(writer_));
    }

    void leftElement(int depth) {
        if (inProject_ && depth == projectDepth_) inProject_ = false;
    }

    // White space alone between elements is the old layout: the writer indents anew. It is
    // kept only where it is an element's whole content, which makes it data.
    void text(const xmlChar* value) {
        if (isWhitespaceOnly(value)) {
            pendingWhitespace_ += toString(value);
            return;
        }
        beforeChild();
        check(xmlTextWriterWriteString(writer_, value));
    }

    void beforeChild() {
        flushWhitespace(false);
        if (!hadChild_.empty()) hadChild_.back() = true;
    }

    void flushWhitespace(bool atEndOfElement) {
        if (pendingWhitespace_.empty()) return;
        if (atEndOfElement && !hadChild_.empty() && !hadChild_.back())
            check(xmlTextWriterWriteString(writer_, xmlText(pendingWhitespace_)));
        pendingWhitespace_.clear();
    }

    void writeAttributes(const xmlNode* element) {
        if (element == nullptr) return;
        for (const xmlNs* ns = element->nsDef; ns != nullptr; ns = ns->next) {
            const std::string name =
                ns->prefix == nullptr ? "xmlns" : "xmlns:" + toString(ns->prefix);
            check(xmlTextWriterWriteAttribute(writer_, xmlText(name), ns->href));
        }
        for (const xmlAttr* a = element->properties; a != nullptr; a = a->next) {
            std::string name = toString(a->name);
            if (a->ns != nullptr && a->ns->prefix != nullptr)
                name = toString(a->ns->prefix) + ":" + name;
            const std::string value =
                xml::detail::take(xmlNodeListGetString(a->doc, a->children, 1));
            check(xmlTextWriterWriteAttribute(writer_, xmlText(name), xmlText(value)));
        }
    }

    void writeSubtree(const xmlNode* node) {
        switch (node->type) {
            case XML_ELEMENT_NODE:
                check(xmlTextWriterStartElement(writer_, xmlText(qualifiedName(node))));
                writeAttributes(node);
                hadChild_.push_back(false);
                for (const xmlNode* child = node->children; child != nullptr; child = child->next)
                    writeSubtree(child);
                flushWhitespace(true);
                hadChild_.pop_back();
                check(xmlTextWriterEndElement(writer_));
                break;
            case XML_TEXT_NODE:
                text(node->content);
                break;
            case XML_CDATA_SECTION_NODE:
                beforeChild();
                writeCData(node->content);
                break;
            case XML_COMMENT_NODE:
                beforeChild();
                check(xmlTextWriterWriteComment(writer_, node->content));
                break;
            case XML_PI_NODE:
                beforeChild();
                check(xmlTextWriterWritePI(writer_, node->name, node->content));
                break;
            case XML_ENTITY_REF_NODE:
                beforeChild();
                check(xmlTextWriterWriteFormatRaw(writer_, "&%s;", node->name));
                break;
            default:
                break;
        }
    }

    void writeDocumentType() {
        // The reader's own node, not its document: asking for the document would make the
        // reader keep every node it passes (and leave the document to us to free).
        xmlNode* node = xmlTextReaderCurrentNode(reader_);
        if (node == nullptr || node->type != XML_DTD_NODE) return;
        const auto* dtd = reinterpret_cast<const xmlDtd*>(node);
        xmlDoc* doc = node->doc;
        std::string subset;
        if (dtd->children != nullptr) {
            std::unique_ptr<xmlBuffer, decltype(&xmlBufferFree)> buffer(xmlBufferCreate(),
                                                                        &xmlBufferFree);
            for (xmlNode* decl = dtd->children; decl != nullptr; decl = decl->next) {
                xmlNodeDump(buffer.get(), doc, decl, 0, 0);
                xmlBufferCCat(buffer.get(), "\n");
            }
            subset = "\n" + toString(xmlBufferContent(buffer.get()));
        }
        check(xmlTextWriterWriteDTD(writer_, dtd->name, dtd->ExternalID, dtd->SystemID,
                                    subset.empty() ? nullptr : xmlText(subset)));
    }

    static void check(int status) {
        if (status < 0) throw Error(err::DeviceIo, "The download file cannot be written");
    }

    xmlTextWriter* writer_;
    xmlTextReader* reader_;
    Sink& sink_;
    const CDataStandIns& standIns_;
    bool projectSeen_ = false;
    bool inProject_ = false;
    int projectDepth_ = -1;
    std::vector<bool> hadChild_;
    std::string pendingWhitespace_;
};

// A writer into `sink` that indents what it writes, the XML declaration written.
std::unique_ptr<xmlTextWriter, WriterFree> startWriter(Sink& sink) {
    xmlOutputBuffer* output = xmlOutputBufferCreateIO(&Sink::write, nullptr, &sink, nullptr);
    if (output == nullptr) throw Error(err::OutOfMemory, "Out of memory");
    std::unique_ptr<xmlTextWriter, WriterFree> writer(xmlNewTextWriter(output));
    if (!writer) {
        xmlOutputBufferClose(output);
        throw Error(err::OutOfMemory, "Out of memory");
    }
    xmlTextWriterSetIndent(writer.get(), 1);
    xmlTextWriterSetIndentString(writer.get(), xmlText("  "));
    if (xmlTextWriterStartDocument(writer.get(), "1.0", "UTF-8", nullptr) < 0)
        throw Error(err::DeviceIo, "The download file cannot be written");
    return writer;
}

// Why the rewrite of the download file at `path` stopped, as the user should hear it: the file
// could not be read, or is not well-formed, or else the failure being handled. Call only inside
// a catch block.
[[noreturn]] void throwRewriteFailure(const std::filesystem::path& path,
                                      const CDataStandIns& standIns,
                                      const xml::detail::ErrorCollector& errors) {
    if (standIns.error() != 0)
        throw files::ioError("Cannot read", path, standIns.error(), err::FileNotFound);
    if (errors.first())
        throw Error(err::InvalidArgument, path.string() + ": " + errors.first()->reason);
    throw;
}

}  // namespace

void RewriteDownloadFile(DocumentStore& document, std::vector<CDataStandIns::Range> savedSections) {
    const std::filesystem::path& path = document.file();
    struct stat original {};
    if (::stat(path.c_str(), &original) != 0)
        throw files::ioError("Cannot open", path, errno, err::FileNotFound);
    if (!S_ISREG(original.st_mode)) {
        throw Error(err::FileNotFound, "File not found: " + path.string());
    }

    xml::detail::ErrorCollector errors;
    const int input = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0) throw files::ioError("Cannot open", path, errno, err::FileNotFound);
    const files::Descriptor closeInput{input};
    CDataStandIns standIns(input);
    standIns.knowSections(std::move(savedSections));
    // The file is the download's own output: its text nodes may be far above the parser's
    // default limits. Entities are never substituted and nothing is loaded from outside.
    std::unique_ptr<xmlTextReader, ReaderFree> reader(
        xmlReaderForIO(&CDataStandIns::read, nullptr, &standIns, path.c_str(), nullptr,
                       XML_PARSE_NONET | XML_PARSE_BIG_LINES | XML_PARSE_HUGE));
    if (!reader) throw Error(err::OutOfMemory, "Out of memory");

    document.replace([&](int fd) {
        Sink sink;
        sink.fd = fd;
        try {
            const std::unique_ptr<xmlTextWriter, WriterFree> writer = startWriter(sink);
            try {
                Rewriter(writer.get(), reader.get(), sink, standIns).run();
            } catch (const Error&) {
                throwRewriteFailure(path, standIns, errors);
            }
            if (errors.first()) {
                throw Error(err::InvalidArgument, path.string() + ": " + errors.first()->reason);
            }
        } catch (const Error&) {
            // The writer only knows that its output failed; the sink knows why.
            if (sink.errnum != 0) throw files::ioError("Cannot write", path, sink.errnum);
            throw;
        }  // the writer flushes into the sink as it goes away
        sink.flush();
        if (sink.errnum != 0) throw files::ioError("Cannot write", path, sink.errnum);
    });
}

void RewriteDownloadFile(const std::filesystem::path& path) {
    DocumentStore document(path);
    RewriteDownloadFile(document);
}

}  // namespace ovk
