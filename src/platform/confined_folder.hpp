// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace ovk::files {

// One folder that files are written into, and nowhere else. Names handed to it come from
// outside (a service names the documents it sends), so each must be a plain file name: no
// path separator of either platform, not "." or "..", no NUL or other control character.
// The folder is opened once; every file is created relative to that handle, and a file is
// replaced by renaming a finished temporary file over the name, so a symbolic link standing
// at that name is replaced, never followed.
class ConfinedFolder {
  public:
    // Throws Error (PathNotFound, PermissionDenied) when the folder cannot be opened.
    explicit ConfinedFolder(const std::filesystem::path& folder);
    ~ConfinedFolder();
    ConfinedFolder(const ConfinedFolder&) = delete;
    ConfinedFolder& operator=(const ConfinedFolder&) = delete;

    // Throws Error (InvalidArgument) naming the reason when `name` is not a plain file name.
    static void checkPlainName(std::string_view name);

    // Makes `content` the whole content of the file `name` in the folder: written to a
    // temporary file beside it (readable by the user alone while it is written) and renamed
    // over the name, so a reader or a crash of the program sees the old or the new content,
    // never a mixture. With `flush` the content reaches the disk before the rename; callers
    // writing many files may flush them together instead (see syncFileSystem). A failure
    // leaves the old file and no temporary file. New files get 0644 less the umask; a
    // replaced file keeps its permissions.
    void replaceFile(std::string_view name, std::string_view content, bool flush = true) const;
    // The same with the content handed over in pieces: `produce` passes each piece, in order,
    // to the function it is given. For content that should not be held whole in memory. An
    // exception from `produce` leaves the old file, as a failed write does.
    using ContentSink = std::function<void(std::string_view piece)>;
    void replaceFileWith(std::string_view name,
                         const std::function<void(const ContentSink&)>& produce,
                         bool flush = true) const;

    // One file being replaced, its content written a piece at a time as it comes (from the
    // network, say) rather than produced in one go: the same temporary file, permissions and
    // rename as replaceFileWith(). Until commit() the old file stays, and a replacement that goes
    // without its commit() removes its temporary file. The folder must outlive it.
    class Replacement {
      public:
        // Throws Error as replaceFileWith() does, naming the file.
        Replacement(const ConfinedFolder& folder, std::string_view name);
        ~Replacement();
        Replacement(const Replacement&) = delete;
        Replacement& operator=(const Replacement&) = delete;

        void write(std::string_view piece);
        // Makes what was written the file's content. Throws Error, leaving the old file.
        void commit(bool flush);

      private:
        const ConfinedFolder& folder_;
        std::string target_;
        std::string temp_;
        std::filesystem::path shown_;
        int fd_ = -1;
        bool exists_ = false;
        mode_t mode_ = 0;
        bool done_ = false;
    };

    // Temporary files are named `prefix` + six letters or digits from now on, so that whoever
    // owns the prefix can recognise and remove those a crash left; by default "." + the file's
    // name + "." + eight characters + ".tmp".
    void setTemporaryPrefix(std::string prefix) { temporaryPrefix_ = std::move(prefix); }
    // Called with the path of a file that did not exist, before it is made; what it throws
    // leaves the file unmade. Nothing: none.
    void onNewFile(std::function<void(const std::filesystem::path&)> hook) {
        onNewFile_ = std::move(hook);
    }

    // Flushes everything written on the folder's file system to disk.
    void syncFileSystem() const;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::string temporaryName(std::string_view name) const;

    std::filesystem::path path_;
    int fd_ = -1;
    std::string temporaryPrefix_;
    std::function<void(const std::filesystem::path&)> onNewFile_;
};

}  // namespace ovk::files
