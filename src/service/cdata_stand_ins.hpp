#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ovk {

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
// The file is read in blocks; sections are found by a small scanner that knows comments,
// processing instructions, declarations and quoted attribute values, so that "<![CDATA[" in
// any of them is left alone. A section without its end is passed on without one, so that the
// parser reports the file as not well-formed, as it would have without stand-ins.
class CDataStandIns {
  public:
    // Reads from `fd` (not owned) from its start.
    explicit CDataStandIns(int fd);

    // libxml2's read callback (xmlInputReadCallback): `self` is the CDataStandIns.
    static int read(void* self, char* buffer, int length);

    // The error number of a failed read, or 0.
    int error() const { return errno_; }

    // Calls `piece` with the bytes `value` stands for, in order: its own bytes, and for each
    // stand-in in it the section content from the file. Throws Error when the file cannot be
    // read.
    void expand(std::string_view value, const std::function<void(std::string_view)>& piece) const;

  private:
    enum class State { Text, Markup, Comment, Instruction, Declaration, Tag, LargeCData };

    bool step();
    bool fill(std::size_t wanted);
    std::size_t available() const { return in_.size() - at_; }
    void pass(std::size_t count);
    bool passUntil(std::string_view end);
    bool passTag(bool declaration);
    void startCData();
    bool skipLargeCData();

    int fd_;
    int errno_ = 0;
    State state_ = State::Text;
    off_t inOffset_ = 0;  // the file offset of in_[0]
    std::string in_;
    std::size_t at_ = 0;
    bool endOfFile_ = false;
    std::string out_;
    std::size_t outAt_ = 0;
    char quote_ = 0;
    int depth_ = 0;
    std::string prefix_;
    struct Section {
        off_t offset;
        std::uint64_t length;
    };
    std::vector<Section> sections_;
};

}  // namespace ovk
