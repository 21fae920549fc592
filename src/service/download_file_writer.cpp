#include "service/download_file_writer.hpp"

#include <fcntl.h>
#include <libxml/xmlsave.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "platform/xml/libxml_handles.hpp"

namespace ovk {
namespace {

Error fileError(const std::string& what, const std::filesystem::path& path, int errnum) {
    const int32_t number = errnum == ENOENT   ? err::PathNotFound
                           : errnum == EACCES ? err::PermissionDenied
                                              : err::DeviceIo;
    return Error(number, what + " " + path.string() + ": " + std::strerror(errnum));
}

struct OutputBufferClose {
    void operator()(xmlOutputBuffer* p) const { xmlOutputBufferClose(p); }
};

using OutputBuffer = std::unique_ptr<xmlOutputBuffer, OutputBufferClose>;

// The nodes from `first` to the end of their sibling list, serialized exactly as a save of
// the whole document writes them there (no formatting, UTF-8, the same escaping). The text
// stays in the buffer: an item's payloads run to megabytes.
OutputBuffer serializeFrom(xmlDoc* doc, xmlNode* first) {
    OutputBuffer out(xmlAllocOutputBuffer(nullptr));
    if (!out) throw Error(err::OutOfMemory, "Out of memory");
    for (xmlNode* node = first; node != nullptr; node = node->next)
        xmlNodeDumpOutput(out.get(), doc, node, 0, 0, "UTF-8");
    xmlOutputBufferFlush(out.get());
    if (out->error != 0) throw Error(err::OutOfMemory, "Cannot serialise the document");
    return out;
}

std::string_view contentOf(xmlOutputBuffer* out) {
    return std::string_view(reinterpret_cast<const char*>(xmlOutputBufferGetContent(out)),
                            xmlOutputBufferGetSize(out));
}

std::string markerText() {
    std::mt19937_64 random{std::random_device{}()};
    return "ovk-tail-" + std::to_string(random()) + "-" + std::to_string(random());
}

int pwriteAll(int fd, std::string_view bytes, off_t offset) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                         offset + static_cast<off_t>(done));
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return errno;
        done += static_cast<std::size_t>(written);
    }
    return 0;
}

}  // namespace

void DownloadFileWriter::reset() {
    document_.reset();
    project_ = nullptr;
    lastWritten_ = nullptr;
    path_.clear();
    tail_.clear();
    size_ = -1;
}

void DownloadFileWriter::save(const std::shared_ptr<xml::Document>& document, xml::Node project,
                              const std::filesystem::path& path) {
    if (!document || !project) throw Error(err::ObjectMissing, "Object variable not set");
    if (canAppend(document, project, path)) {
        saveAppended(*document, project, path);
        lastIncremental_ = true;
    } else {
        saveFull(*document, project, path);
        document_ = document;
        lastIncremental_ = false;
    }
}

bool DownloadFileWriter::canAppend(const std::shared_ptr<xml::Document>& document,
                                   xml::Node project, const std::filesystem::path& path) const {
    if (lastWritten_ == nullptr || document_.lock() != document || project.raw() != project_ ||
        path.string() != path_) {
        return false;
    }
    // A text node at the end may have had appended text merged into it.
    if (lastWritten_->type == XML_TEXT_NODE) return false;
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
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == device_ &&
           st.st_ino == inode_ && st.st_size == size_ && st.st_mtim.tv_sec == modified_.tv_sec &&
           st.st_mtim.tv_nsec == modified_.tv_nsec;
}

void DownloadFileWriter::saveFull(xml::Document& document, xml::Node project,
                                  const std::filesystem::path& path) {
    reset();
    xmlNode* element = project.raw();
    const bool appendable = element->children != nullptr;
    // A marker as Project's last child shows where the tail starts; without children Project
    // would be written as an empty-element tag, and there is no place to append to.
    std::string text;
    std::size_t tailOffset = 0;
    if (appendable) {
        const std::string marker = markerText();
        xmlNode* comment = xmlNewDocComment(document.raw(), xml::detail::xmlText(marker));
        if (comment == nullptr) throw Error(err::OutOfMemory, "Out of memory");
        xmlAddChild(element, comment);
        try {
            text = document.toString();
        } catch (...) {
            xmlUnlinkNode(comment);
            xmlFreeNode(comment);
            throw;
        }
        xmlUnlinkNode(comment);
        xmlFreeNode(comment);
        const std::string written = "<!--" + marker + "-->";
        tailOffset = text.rfind(written);
        if (tailOffset == std::string::npos) throw Error(err::InvalidArgument, "Cannot save");
        text.erase(tailOffset, written.size());
    } else {
        text = document.toString();
    }
    files::replaceFileContent(path, text);
    lastFlush_ = std::chrono::steady_clock::now();
    if (!appendable) return;

    project_ = element;
    lastWritten_ = element->last;
    path_ = path.string();
    tail_ = text.substr(tailOffset);
    tailOffset_ = static_cast<off_t>(tailOffset);
    remember(path);
}

void DownloadFileWriter::saveAppended(xml::Document& document, xml::Node project,
                                      const std::filesystem::path& path) {
    xmlNode* element = project.raw();
    const OutputBuffer serialized = serializeFrom(document.raw(), lastWritten_->next);
    const std::string_view added = contentOf(serialized.get());

    const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) throw fileError("Cannot write", path, errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    int errnum = pwriteAll(fd, added, tailOffset_);
    if (errnum == 0) errnum = pwriteAll(fd, tail_, tailOffset_ + static_cast<off_t>(added.size()));
    const auto now = std::chrono::steady_clock::now();
    if (errnum == 0 && now - lastFlush_ >= std::chrono::seconds(1)) {
        if (::syncfs(fd) != 0) errnum = errno;
        lastFlush_ = now;
    }
    if (errnum != 0) {
        // Put the old end back: the file then holds the items saved before this one.
        if (pwriteAll(fd, tail_, tailOffset_) == 0 &&
            ::ftruncate(fd, tailOffset_ + static_cast<off_t>(tail_.size())) == 0) {
            ::fdatasync(fd);
        }
        reset();
        throw fileError("Cannot write", path, errnum);
    }
    tailOffset_ += static_cast<off_t>(added.size());
    lastWritten_ = element->last;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        reset();
        return;
    }
    device_ = st.st_dev;
    inode_ = st.st_ino;
    size_ = st.st_size;
    modified_ = st.st_mtim;
}

void DownloadFileWriter::remember(const std::filesystem::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        reset();
        return;
    }
    device_ = st.st_dev;
    inode_ = st.st_ino;
    size_ = st.st_size;
    modified_ = st.st_mtim;
}

}  // namespace ovk
