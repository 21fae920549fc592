// SPDX-License-Identifier: MIT
#include "service/download_file_writer.hpp"

#include <fcntl.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlsave.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "platform/text.hpp"
#include "service/document_store.hpp"
#include "service/released_texts.hpp"
#include "xml/libxml_handles.hpp"

namespace ovk {
namespace {

struct OutputBufferClose {
    void operator()(xmlOutputBuffer* p) const { xmlOutputBufferClose(p); }
};

using OutputBuffer = std::unique_ptr<xmlOutputBuffer, OutputBufferClose>;

int pwriteAll(int fd, std::string_view bytes, off_t offset);

// Where serialized bytes go: straight into the file, a block at a time, rather than into one
// buffer of the whole. An item's payloads run to hundreds of megabytes, and a buffer would
// hold them a second time. libxml2 calls back with pieces of a few KiB; they are gathered
// into blocks so that the file sees few large writes.
class FileStream {
  public:
    FileStream(int fd, off_t offset) : fd_(fd), offset_(offset) {}

    // Bytes pass through `filter`, which puts released texts in place, into add() and
    // verbatim().
    void filterThrough(ReleasedTexts::Filter* filter) { filter_ = filter; }

    // The output buffer calls this; it must not throw through libxml2.
    static int write(void* self, const char* data, int length) {
        auto* stream = static_cast<FileStream*>(self);
        if (stream->failure_) return -1;
        try {
            const std::string_view bytes(data, static_cast<std::size_t>(length));
            if (stream->filter_ != nullptr) {
                stream->filter_->put(bytes);
            } else {
                stream->add(bytes);
            }
        } catch (...) {
            stream->failure_ = std::current_exception();
        }
        return stream->errno_ == 0 && !stream->failure_ ? length : -1;
    }

    // Writes what is still gathered; the error number of the first failure, or 0. Throws what
    // the filter threw.
    int finish() {
        if (filter_ != nullptr && !failure_) {
            try {
                filter_->finish();
            } catch (...) {
                failure_ = std::current_exception();
            }
        }
        if (failure_) std::rethrow_exception(failure_);
        emit(pending_);
        pending_.clear();
        return errno_;
    }
    off_t offset() const { return offset_; }
    // Where the next byte added goes in the file.
    off_t position() const { return offset_ + static_cast<off_t>(pending_.size()); }

    // The filter's output: the document's own bytes, and texts written as they are.
    ReleasedTexts::Output output() {
        return {[this](std::string_view bytes) { add(bytes); },
                [this](std::string_view bytes) { verbatim(bytes); }, [this] { return position(); }};
    }

  protected:
    virtual void add(std::string_view bytes) {
        pending_.append(bytes);
        if (pending_.size() >= kBlock) {
            emit(pending_);
            pending_.clear();
        }
    }

    // A large text goes to the file as it is, after what was gathered before it.
    virtual void verbatim(std::string_view bytes) {
        emit(pending_);
        pending_.clear();
        emit(bytes);
    }

    void emit(std::string_view bytes) {
        if (errno_ != 0 || bytes.empty()) return;
        errno_ = pwriteAll(fd_, bytes, offset_);
        offset_ += static_cast<off_t>(bytes.size());
    }

    static constexpr std::size_t kBlock = std::size_t{1} << 20;
    std::string pending_;

  private:
    int fd_;
    off_t offset_;
    ReleasedTexts::Filter* filter_ = nullptr;
    int errno_ = 0;
    std::exception_ptr failure_;
};

// A FileStream that leaves out a marker and also keeps what follows it in memory: the tail
// that later saves write again after the items they add.
class TailSplittingStream : public FileStream {
  public:
    TailSplittingStream(int fd, std::string marker)
        : FileStream(fd, 0), marker_(std::move(marker)) {}

    bool found() const { return found_; }
    // Where the marker was: the offset the tail starts at once the marker is left out.
    off_t tailOffset() const { return tailOffset_; }
    std::string& tail() { return tail_; }

  protected:
    void add(std::string_view bytes) override {
        if (found_) {
            tail_.append(bytes);
            FileStream::add(bytes);
            return;
        }
        pending_.append(bytes);
        const std::size_t at = pending_.find(marker_, searchFrom_);
        if (at != std::string::npos) {
            emit(std::string_view(pending_).substr(0, at));
            tailOffset_ = offset();
            tail_ = pending_.substr(at + marker_.size());
            pending_ = tail_;
            found_ = true;
            return;
        }
        // The marker may begin in the last bytes and end in the next piece.
        const std::size_t keep = marker_.size() - 1;
        if (pending_.size() >= kBlock + keep) {
            emit(std::string_view(pending_).substr(0, pending_.size() - keep));
            pending_.erase(0, pending_.size() - keep);
        }
        searchFrom_ = pending_.size() > keep ? pending_.size() - keep : 0;
    }

    // Texts stand before Project's end, and so before the marker.
    void verbatim(std::string_view bytes) override {
        FileStream::verbatim(bytes);
        searchFrom_ = 0;
    }

  private:
    std::string marker_;
    std::size_t searchFrom_ = 0;
    bool found_ = false;
    off_t tailOffset_ = 0;
    std::string tail_;
};

OutputBuffer outputTo(FileStream& stream, xmlCharEncodingHandler* encoder) {
    OutputBuffer out(xmlOutputBufferCreateIO(&FileStream::write, nullptr, &stream, encoder));
    if (!out) throw Error(err::OutOfMemory, "Out of memory");
    return out;
}

// Writes `lead` (may be null), then the nodes from `first` to the end of their sibling list
// exactly as a save of the whole document writes them there (no formatting, UTF-8, the same
// escaping), from `offset` of the file on. Returns the end offset, or throws with the error
// number of a failed write (0 when serialising failed).
off_t writeFrom(xmlDoc* doc, xmlNode* lead, xmlNode* first, int fd, off_t offset,
                ReleasedTexts& texts, int& errnum) {
    FileStream stream(fd, offset);
    ReleasedTexts::Filter filter(texts, stream.output(), -1);
    stream.filterThrough(&filter);
    OutputBuffer out = outputTo(stream, nullptr);
    if (lead != nullptr) xmlNodeDumpOutput(out.get(), doc, lead, 0, 0, "UTF-8");
    for (xmlNode* node = first; node != nullptr; node = node->next)
        xmlNodeDumpOutput(out.get(), doc, node, 0, 0, "UTF-8");
    xmlOutputBufferFlush(out.get());
    const bool serialised = out->error == 0;
    out.reset();
    errnum = stream.finish();
    if (errnum == 0 && !serialised) errnum = -1;
    return stream.offset();
}

std::string markerText() {
    return unguessableName("ovk-tail-");
}

int pwriteAll(int fd, std::string_view bytes, off_t offset) {
    return DocumentStore::writeAt(fd, bytes, offset);
}

}  // namespace

void DownloadFileWriter::reset() {
    forget();
    appendOnly_ = false;
    earlier_.clear();
}

void DownloadFileWriter::forget() {
    document_.reset();
    project_ = nullptr;
    lastWritten_ = nullptr;
    path_.clear();
    tail_.clear();
    lastText_.clear();
    size_ = -1;
}

void DownloadFileWriter::save(const std::shared_ptr<xml::Document>& document, xml::Node project,
                              DocumentStore& store) {
    if (!document || !project) throw Error(err::ObjectMissing, "Object variable not set");
    if (appendOnly_ && !canAppend(document, project, store)) {
        // The articles saved before the download was continued are in the file alone: a whole
        // save of the document would write it without them.
        throw Error(err::InvalidArgument,
                    "The download file " + store.path().string() +
                        " changed while the download was continued, or an article could not be "
                        "saved. Stop the download and continue it again.");
    }
    if (canAppend(document, project, store)) {
        saveAppended(*document, project, store);
        lastIncremental_ = true;
    } else {
        saveFull(*document, project, store);
        document_ = document;
        lastIncremental_ = false;
    }
}

bool DownloadFileWriter::canAppend(const std::shared_ptr<xml::Document>& document,
                                   xml::Node project, const DocumentStore& store) const {
    const std::filesystem::path& path = store.file();
    if (lastWritten_ == nullptr || !store.appending() || document_.lock() != document ||
        project.raw() != project_ || path.string() != path_) {
        return false;
    }
    // The last node written must still be one of Project's children; only its later siblings
    // are new. Walking back from the end costs as many steps as the item added.
    bool found = false;
    for (xmlNode* node = project.raw()->last; node != nullptr; node = node->prev) {
        if (node == lastWritten_) {
            found = true;
            break;
        }
    }
    if (!found) return false;
    // A text node at the end (loose text at the end of a reply) gets the next item's
    // leading text merged into it: what it held when saved must still be how it begins, so
    // that only the rest is new.
    if (lastWritten_->type == XML_TEXT_NODE) {
        const char* content = reinterpret_cast<const char*>(lastWritten_->content);
        if (lastWritten_->name != xmlStringText ||
            std::string_view(content == nullptr ? "" : content).substr(0, lastText_.size()) !=
                lastText_) {
            return false;
        }
    }
    return unchangedSinceSave(path);
}

bool DownloadFileWriter::unchangedSinceSave(const std::filesystem::path& path) const {
    struct stat st {};
    return size_ >= 0 && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           st.st_dev == device_ && st.st_ino == inode_ && st.st_size == size_ &&
           st.st_mtim.tv_sec == modified_.tv_sec && st.st_mtim.tv_nsec == modified_.tv_nsec;
}

std::vector<CDataStandIns::Range> DownloadFileWriter::savedSections(
    const DocumentStore& store) const {
    // A save since the last reset() has written the file the texts were released into.
    const std::filesystem::path& path = store.file();
    if (path_ != path.string() || !unchangedSinceSave(path)) return {};
    std::vector<CDataStandIns::Range> sections = texts_.sections();
    if (earlier_.empty()) return sections;
    // The resumed file's own texts all come before those the continued saves wrote.
    sections.insert(sections.begin(), earlier_.begin(), earlier_.end());
    return sections;
}

void DownloadFileWriter::saveFull(xml::Document& document, xml::Node project,
                                  DocumentStore& store) {
    reset();
    const std::filesystem::path& path = store.file();
    xmlNode* element = project.raw();
    if (element->children == nullptr) {
        // Without children Project is written as an empty-element tag: there is no place to
        // append to, and every later save is a full one.
        const std::string content = document.toString();
        store.replace([&](int fd) {
            if (const int errnum = DocumentStore::writeAt(fd, content, 0))
                throw files::ioError("Cannot write", path, errnum);
        });
        return;
    }
    // Texts released by earlier saves are read back from the file those saves wrote, which
    // stays readable through this descriptor when the new file replaces it.
    int previous = -1;
    if (texts_.any() && !releasedFrom_.empty())
        previous = ::open(releasedFrom_.c_str(), O_RDONLY | O_CLOEXEC);
    const files::Descriptor closePrevious{previous};
    // A marker as Project's last child shows where the tail starts. The document is written
    // as it is serialised, without the marker, as Document::toString() would give it.
    const std::string marker = markerText();
    xmlNode* comment = xmlNewDocComment(document.raw(), xml::detail::xmlText(marker));
    if (comment == nullptr) throw Error(err::OutOfMemory, "Out of memory");
    xmlAddChild(element, comment);
    struct Unlink {
        xmlNode* comment;
        ~Unlink() {
            xmlUnlinkNode(comment);
            xmlFreeNode(comment);
        }
    } const unlink{comment};
    std::string tail;
    off_t tailOffset = 0;
    texts_.standIn(element->children);
    try {
        store.replace([&](int fd) {
            TailSplittingStream stream(fd, "<!--" + marker + "-->");
            ReleasedTexts::Filter filter(texts_, stream.output(), previous);
            stream.filterThrough(&filter);
            // What xmlDocDumpFormatMemoryEnc, behind Document::toString(), does into memory.
            OutputBuffer out = outputTo(stream, xmlFindCharEncodingHandler("UTF-8"));
            const int result = xmlSaveFormatFileTo(out.release(), document.raw(), "UTF-8", 0);
            const int errnum = stream.finish();
            if (errnum != 0) throw files::ioError("Cannot write", path, errnum);
            if (result < 0) throw Error(err::OutOfMemory, "Cannot serialise the document");
            if (!stream.found()) throw Error(err::InvalidArgument, "Cannot save");
            tail = std::move(stream.tail());
            tailOffset = stream.tailOffset();
            // Before the new file takes the document's place, so that either state has its
            // record in the plan.
            store.plan().note(fd, tailOffset, tail);
        });
    } catch (...) {
        texts_.restore();
        throw;
    }
    texts_.commit(true);
    releasedFrom_ = path.string();
    store.beginAppends(tailOffset, tail);

    project_ = element;
    lastWritten_ = element->last->prev;  // the last child but the marker
    rememberLastText();
    path_ = path.string();
    tail_ = std::move(tail);
    tailOffset_ = tailOffset;
    remember(path);
}

void DownloadFileWriter::saveAppended(xml::Document& document, xml::Node project,
                                      DocumentStore& store) {
    const std::filesystem::path& path = store.file();
    const int fd = store.appendDescriptor();

    // Text merged into the last text written goes first, escaped as part of that text would
    // be: escaping works a character at a time, and the old end is a character boundary.
    struct FreeNode {
        void operator()(xmlNode* node) const { xmlFreeNode(node); }
    };
    std::unique_ptr<xmlNode, FreeNode> merged;
    if (lastWritten_->type == XML_TEXT_NODE) {
        const auto* content = reinterpret_cast<const char*>(lastWritten_->content);
        const std::string_view text(content == nullptr ? "" : content);
        if (text.size() > lastText_.size()) {
            const std::string_view added = text.substr(lastText_.size());
            merged.reset(xmlNewDocTextLen(document.raw(), xml::detail::xmlText(added),
                                          static_cast<int>(added.size())));
            if (!merged) throw Error(err::OutOfMemory, "Out of memory");
        }
    }
    // The new children go over the old tail, written as they are serialised; the tail after
    // them. Until the commit a crash leaves the file to the journal, which puts the old tail
    // back.
    texts_.standIn(lastWritten_->next);
    int errnum = 0;
    off_t addedEnd = tailOffset_;
    std::exception_ptr failure;
    try {
        addedEnd = writeFrom(document.raw(), merged.get(), lastWritten_->next, fd, tailOffset_,
                             texts_, errnum);
    } catch (...) {
        failure = std::current_exception();
        errnum = -1;
    }
    if (errnum == 0) errnum = pwriteAll(fd, tail_, addedEnd);
    if (errnum == 0) {
        try {
            // Recorded before the commit: a crash between them leaves the old state, which has
            // its record too.
            store.plan().note(fd, addedEnd, tail_);
            store.commit(addedEnd);
        } catch (...) {
            store.rollback();
            texts_.restore();
            forget();
            throw;
        }
    }
    if (errnum != 0) {
        // The file then holds the items saved before this one.
        store.rollback();
        texts_.restore();
        forget();
        if (failure) std::rethrow_exception(failure);
        if (errnum < 0) throw Error(err::OutOfMemory, "Cannot serialise the document");
        throw files::ioError("Cannot write", path, errnum);
    }
    appended(project, fd, addedEnd);
}

void DownloadFileWriter::appended(xml::Node project, int fd, off_t end) {
    texts_.commit(false);
    tailOffset_ = end;
    lastWritten_ = project.raw()->last;
    rememberLastText();
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        forget();
        return;
    }
    device_ = st.st_dev;
    inode_ = st.st_ino;
    size_ = st.st_size;
    modified_ = st.st_mtim;
}

bool DownloadFileWriter::prepareStream(const std::shared_ptr<xml::Document>& document,
                                       xml::Node project, DocumentStore& store) {
    if (!document || !project || project.raw()->children == nullptr) return false;
    const auto ready = [&] {
        return canAppend(document, project, store) && lastWritten_ == project.raw()->last;
    };
    if (ready()) return true;
    if (appendOnly_ && !canAppend(document, project, store)) return false;
    save(document, project, store);
    return ready();
}

void DownloadFileWriter::finishStream(xml::Node project, DocumentStore& store, off_t end) {
    const int fd = store.appendDescriptor();
    int errnum = pwriteAll(fd, tail_, end);
    if (errnum == 0) {
        try {
            store.plan().note(fd, end, tail_);
            store.commit(end);
        } catch (...) {
            abandonStream(store);
            forget();
            throw;
        }
    }
    if (errnum != 0) {
        abandonStream(store);
        forget();
        throw files::ioError("Cannot write", store.file(), errnum);
    }
    appended(project, fd, end);
}

void DownloadFileWriter::abandonStream(DocumentStore& store) noexcept {
    store.rollback();
    texts_.restore();
}

void DownloadFileWriter::rememberLastText() {
    lastText_.clear();
    if (lastWritten_ == nullptr || lastWritten_->type != XML_TEXT_NODE ||
        lastWritten_->content == nullptr) {
        return;
    }
    lastText_ = reinterpret_cast<const char*>(lastWritten_->content);
}

void DownloadFileWriter::remember(const std::filesystem::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        forget();
        return;
    }
    device_ = st.st_dev;
    inode_ = st.st_ino;
    size_ = st.st_size;
    modified_ = st.st_mtim;
}

void DownloadFileWriter::noteProgress(DocumentStore& store) {
    if (lastWritten_ == nullptr || !store.appending() || store.file().string() != path_) return;
    store.plan().note(store.appendDescriptor(), tailOffset_, tail_);
}

void DownloadFileWriter::resume(const std::shared_ptr<xml::Document>& document, xml::Node project,
                                DocumentStore& store, off_t tailOffset,
                                std::vector<CDataStandIns::Range> earlier) {
    reset();
    xmlNode* element = project.raw();
    if (!document || element == nullptr || element->last == nullptr)
        throw Error(err::ObjectMissing, "The download document has no Project content");
    const std::filesystem::path& path = store.file();
    files::Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0)
        throw files::ioError("Cannot open", path, errno, err::FileNotFound);
    std::string tail(static_cast<std::size_t>(st.st_size - tailOffset), '\0');
    if (const int errnum = files::readAt(file.fd, tail.data(), tail.size(), tailOffset))
        throw files::ioError("Cannot read", path, errnum);
    store.beginAppends(tailOffset, tail);
    document_ = document;
    project_ = element;
    lastWritten_ = element->last;
    rememberLastText();
    path_ = path.string();
    tail_ = std::move(tail);
    tailOffset_ = tailOffset;
    remember(path);
    appendOnly_ = true;
    // Only those before the tail: the saves to come write over what stands after it.
    std::erase_if(earlier, [&](const CDataStandIns::Range& range) {
        return range.offset + static_cast<off_t>(range.length) > tailOffset;
    });
    earlier_ = std::move(earlier);
}

}  // namespace ovk
