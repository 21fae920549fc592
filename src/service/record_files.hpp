// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace ovk {

namespace files {
class ConfinedFolder;
}
class DocumentStore;

// The symbol file and the GER file: text files in the Windows-1252 code page with carriage
// return and line feed line ends, that records are appended to and that other programs (and
// earlier downloads) may have written to as well.
//
// A record whose first line (the text before its first line feed) has 8 characters or more is
// written only when no line of the file equals that first line without regard to case. To
// keep that check O(1) per record, the folded lines of each file are kept in an index that is
// built when a file is first seen. A file that only grew since (same inode, larger, not older,
// and the last bytes indexed still in place: another program appending) has only its new
// bytes indexed; one that was replaced, shrank or changed otherwise is indexed anew. Appends
// made here update the index in place.
//
// Every record starts on a line of its own: when the file does not end with a line break, one
// is written first, so that a record never runs into the last line of the one before it.
// A failing append is cut off again, so the file never keeps half a record. While a download
// holds its document, appends are journalled with it (DocumentStore::appendRecord): a crash
// undoes the records of the articles it undoes. A symbolic link standing at a file's name is
// followed: the host may keep its files elsewhere, and the records go where the link points.
class RecordFiles {
  public:
    // A new symbol file starts with a line holding a single space; every record is preceded by
    // such a line. Throws Error when the file cannot be read or written.
    void AppendSymbolRecord(const std::filesystem::path& path, std::string_view record);
    // A new GER file starts empty; records follow one another without a separator line.
    void AppendGerRecord(const std::filesystem::path& path, std::string_view record);

    // The held document whose journal covers the appends from now on; nullptr for none.
    void journalWith(DocumentStore* document) { document_ = document; }
    // Payload files written into `folder` beside the download document `downloadFile` are made
    // under the document's temporary names, and those that did not exist are journalled with
    // the document, like the records: a crash leaves neither a temporary file nor a file of an
    // article it undoes.
    void journalPayloadsIn(files::ConfinedFolder& folder,
                           const std::filesystem::path& downloadFile) const;

  private:
    struct FileIndex {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        timespec modified{};
        bool endsWithLineBreak = true;
        std::string lastBytes;    // the last bytes indexed, to tell growth from a rewrite
        std::string pendingLine;  // the unfinished last line, as in the file; not in the set
        std::unordered_set<std::string> foldedLines;

        bool contains(const std::string& folded) const;
        // Adds the lines of `bytes`, which continue the indexed part of the file.
        void add(std::string_view bytes);
    };

    void append(const std::filesystem::path& path, std::string_view record, bool separatorLine);
    FileIndex& indexOf(const std::string& key, const std::filesystem::path& path, int fd);

    std::unordered_map<std::string, FileIndex> files_;
    DocumentStore* document_ = nullptr;
};

}  // namespace ovk
