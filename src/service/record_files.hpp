#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace ovk {

// The symbol file and the GER file: text files in the Windows-1252 code page with carriage
// return and line feed line ends, that records are appended to and that other programs (and
// earlier downloads) may have written to as well.
//
// A record whose first line (the text before its first line feed) has 8 characters or more is
// written only when no line of the file equals that first line without regard to case. To
// keep that check O(1) per record, the folded lines of each file are kept in an index that is
// built when a file is first seen and rebuilt whenever the file is not as this object left it
// (another size, modification time or inode); appends made here update it in place.
//
// Every record starts on a line of its own: when the file does not end with a line break, one
// is written first, so that a record never runs into the last line of the one before it.
// Appends are single writes; a failing one is cut off again, so the file never keeps half a
// record. Symbolic links standing at a file's name are refused, not followed.
class RecordFiles {
  public:
    // A new symbol file starts with a line holding a single space; every record is preceded by
    // such a line. Throws Error when the file cannot be read or written.
    void AppendSymbolRecord(const std::filesystem::path& path, std::string_view record);
    // A new GER file starts empty; records follow one another without a separator line.
    void AppendGerRecord(const std::filesystem::path& path, std::string_view record);

  private:
    struct FileIndex {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        timespec modified{};
        bool endsWithLineBreak = true;
        std::unordered_set<std::string> foldedLines;
    };

    void append(const std::filesystem::path& path, std::string_view record, bool separatorLine);
    FileIndex& indexOf(const std::filesystem::path& path, int fd);

    std::unordered_map<std::string, FileIndex> files_;
};

}  // namespace ovk
