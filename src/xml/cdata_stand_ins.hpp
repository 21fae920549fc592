// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xml/markup_scanner.hpp"

namespace ovk {

// Where "]]>" starts in `text` from `from` on, or npos. A payload rarely holds a ']' at all
// (Base64 never does), so looking for ']' with memchr runs at memory speed, where a general
// substring search would not.
inline std::size_t findCDataEnd(std::string_view text, std::size_t from = 0) {
    while (from < text.size()) {
        const void* at = std::memchr(text.data() + from, ']', text.size() - from);
        if (at == nullptr) return std::string_view::npos;
        const auto i = static_cast<std::size_t>(static_cast<const char*>(at) - text.data());
        if (i + 2 < text.size() && text[i + 1] == ']' && text[i + 2] == '>') return i;
        if (i + 2 >= text.size()) return std::string_view::npos;
        from = i + 1;
    }
    return std::string_view::npos;
}

// Reads an XML file for libxml2 with the content of every large CDATA section replaced by a
// short stand-in, and gives the content back, straight from the file, when a section is
// written out again.
//
// A download file is mostly payload text in CDATA sections, and libxml2's streaming reader
// grows such a section a few hundred bytes at a time, measuring the whole text again at every
// step: the time grows with the square of the section's size (minutes for ten megabytes). With
// stand-ins the parser sees only the document's structure, and the payload bytes are located
// with memmem and copied once, at the speed of the file.
//
// The file is read in blocks; sections are found by the markup scanner, which knows comments,
// processing instructions, declarations and quoted attribute values, so that "<![CDATA[" in
// any of them is left alone. A section without its end is passed on without one, so that the
// parser reports the file as not well-formed, as it would have without stand-ins.
class CDataStandIns {
  public:
    // Which large sections get a stand-in.
    enum class Scope {
        // All of them: the Finish rewrite writes every one back from the file.
        Everywhere,
        // Only those inside the Articleinfo children of the first Project element: the items
        // of the last download, which the next download removes before its first save.
        // Elsewhere (the settings, Structure, Select, whatever the host keeps), and beneath
        // the elements the caller reads, a section is read as it is. A stand-in keeps of its
        // section what the parser checks (every byte but plain ASCII text) and its line
        // breaks, so that the parser finds the faults it would find in the file, on the
        // file's lines. Such stand-ins cannot be expanded.
        ProjectItems,
    };

    // Reads from `fd` (not owned) from its start. `readByName` names (qualified, as written) the
    // elements whose texts the caller reads (Scope::ProjectItems).
    explicit CDataStandIns(int fd, Scope scope = Scope::Everywhere,
                           std::vector<std::string> readByName = {});

    // libxml2's read callback (xmlInputReadCallback): `self` is the CDataStandIns.
    static int read(void* self, char* buffer, int length);

    int fd() const { return fd_; }
    // The error number of a failed read, or 0.
    int error() const { return errno_; }

    // Calls `piece` with the bytes `value` stands for, in order: its own bytes, and for each
    // stand-in in it the section content from the file. Throws Error when the file cannot be
    // read.
    void expand(std::string_view value, const std::function<void(std::string_view)>& piece) const;

    // Where the content of the one section `value` stands for lies in the file, when `value` is
    // a stand-in and nothing else: that content holds no "]]>" and can be copied as it is.
    struct Range {
        off_t offset;
        std::uint64_t length;
    };
    std::optional<Range> wholeSection(std::string_view value) const;
    // Every section given a stand-in so far, in file order.
    const std::vector<Range>& sections() const { return sections_; }

    // Sections whose place the caller already knows, in file order (Scope::Everywhere): content
    // that holds no "]]>" and was written by this process, such as the texts a download saved.
    // Where such a section still stands between its delimiters, its content is passed over
    // unread; the copy that writes it out is then the one time its bytes are read.
    void knowSections(std::vector<Range> known) { known_ = std::move(known); }

  private:
    // What is done with the CDATA section being read.
    enum class Section { None, PassedOn, Undecided, StoodIn };

    bool step();
    void take(const xml::MarkupScanner::Piece& piece);
    void passOn(const xml::MarkupScanner::Piece& piece);
    void takeCData(const xml::MarkupScanner::Piece& piece);
    bool standIn();
    void noteTag(std::string_view piece);
    void tagEnded();
    bool inScope() const;
    bool passOverKnownSection(off_t bodyOffset);
    void keepWhatTheParserChecks(std::string_view content, bool sectionEnds);

    int fd_;
    Scope scope_;
    int errno_ = 0;
    xml::MarkupScanner scanner_;
    off_t readAt_ = 0;  // where the file is read next
    std::string in_;
    bool endOfFile_ = false;
    std::string out_;
    std::size_t outAt_ = 0;
    Section section_ = Section::None;
    std::string undecided_;  // the content of a section not yet known to be large
    off_t undecidedOffset_ = 0;
    std::string prefix_;
    std::vector<Range> sections_;
    std::vector<Range> known_;
    std::size_t nextKnown_ = 0;
    std::size_t readSize_;       // of the next read from the file
    mutable std::string block_;  // what expand() reads the file into

    // Where the scanner stands among the elements (Scope::ProjectItems).
    std::string tagName_;       // the name of the tag being passed, "/" first in an end tag
    bool tagNameDone_ = false;  // its name is complete
    char tagLast_ = 0;          // its last byte before '>', '/' in an empty-element tag
    int elementDepth_ = 0;
    int projectDepth_ = 0;  // the first Project's depth while it is open, -1 once it closed
    int itemDepth_ = 0;     // the depth of the Project child Articleinfo we are in, or 0
    std::vector<std::string> readByName_;
    int readDepth_ = 0;  // the depth of the outermost element of readByName_ we are in, or 0
    bool afterNonAscii_ = false;           // the section's last byte so far is above ASCII
    std::uint64_t pendingLineBreaks_ = 0;  // line breaks still to pass on after the stand-in
};

}  // namespace ovk
