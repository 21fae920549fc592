// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "xml/cdata_stand_ins.hpp"

struct _xmlNode;

namespace ovk {

// The large CDATA texts of the download document (the Base64 of the documents an item
// carries) live in the download file once they are saved, not in memory: a download of
// thousands of articles would otherwise hold every payload until its end.
//
// Before a save, each large section among the nodes to be written gets a short stand-in as its
// content, and its text is held aside. The serialized output passes through filter(), which
// writes each text where its stand-in stands, exactly as the section's content would have been
// written, and notes where in the file it went. After the save, commit() frees the texts;
// restore() puts them back when the save failed. A stand-in written again by a later save of
// the whole document is filled in from the file the last save wrote.
//
// Sections holding "]]>" stay in memory: they are written as several sections, and the file
// would not hold their text in one piece.
class ReleasedTexts {
  public:
    // Smaller texts stay in memory: a stand-in would save little, and the Finish rewrite reads
    // them as they are.
    static constexpr std::size_t kReleasedFrom = std::size_t{16} << 10;

    ReleasedTexts();

    // Gives stand-ins to the large sections in the Articleinfo elements among `first` and its
    // later siblings.
    void standIn(_xmlNode* first);
    // A large text that a streamed item wrote straight into the file at `offset`, `length`
    // bytes as the file holds them: the content of a CDATA section (`section`), or a text as
    // escaped there. Returns the stand-in its node holds instead; the text counts as written
    // by the save under way (see commit() and restore()).
    std::string written(off_t offset, std::uint64_t length, bool section);

    // Frees the texts held since standIn(): they are in the file now. `newFile` when the save
    // wrote a new file (a whole one), where texts it did not write have no place.
    void commit(bool newFile);
    // Puts the texts held since standIn() back into their nodes.
    void restore();

    // Where bytes of the serialized document go: `literal` for the document's own bytes,
    // `verbatim` for a section's text, with the file offset it is written at (`offset()` of the
    // receiver when called).
    struct Output {
        std::function<void(std::string_view)> literal;
        std::function<void(std::string_view)> verbatim;
        std::function<off_t()> offset;
    };

    // Filters serialized bytes into `out`, replacing stand-ins by their texts. `previous` is
    // the file the last save wrote, read for texts released before (-1 when there is none).
    // Call finish() after the last bytes. Throws Error when a text cannot be read back.
    class Filter {
      public:
        Filter(ReleasedTexts& texts, Output out, int previous)
            : texts_(texts), out_(std::move(out)), previous_(previous) {}
        void put(std::string_view bytes);
        void finish();

      private:
        void text(std::size_t index);

        ReleasedTexts& texts_;
        Output out_;
        int previous_;
        std::string carry_;
        std::string block_;  // what texts are read back into
    };

    bool any() const { return !locations_.empty(); }
    // Where the released texts stand in the file the last save wrote, in file order: each the
    // whole content of a CDATA section.
    std::vector<CDataStandIns::Range> sections() const;

  private:
    struct Location {
        off_t offset = -1;
        std::uint64_t length = 0;
        off_t written = -1;      // where the save under way wrote it
        std::uint64_t file = 0;  // the file `offset` is in (see file_)
        bool section = true;     // the content of a CDATA section, not an escaped text
    };
    struct Held {
        _xmlNode* node;
        unsigned char* content;
        std::size_t index;
        std::size_t length;
    };

    std::string token(std::size_t index) const;

    std::string prefix_;
    std::vector<Location> locations_;
    // Counts the files the saves wrote: the texts of items that went from the document stay
    // in the older ones only.
    std::uint64_t file_ = 0;
    std::vector<Held> held_;
};

}  // namespace ovk
