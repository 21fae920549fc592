// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <set>

#include "platform/errors.hpp"
#include "platform/files.hpp"
#include "platform/memory_writes.hpp"
#include "temp_dir.hpp"

namespace ovk::files {
namespace {

using test::TempDir;

TEST(Files, FindsComponentFilesWithoutRegardToCase) {
    TempDir dir;
    dir.write("nls.xml", "<x/>");
    EXPECT_EQ(findCaseInsensitive(dir.path(), "NLS.XML"), dir / "nls.xml");
    EXPECT_EQ(findCaseInsensitive(dir.path(), "nls.xml"), dir / "nls.xml");
    EXPECT_FALSE(findCaseInsensitive(dir.path(), "nls.xm"));
    EXPECT_FALSE(findCaseInsensitive(dir / "missing", "nls.xml"));
}

TEST(Files, ComponentDirFollowsTheOverride) {
    TempDir dir;
    dir.write("TARVO_download.XSD", "");
    setComponentDir(dir.path());
    EXPECT_EQ(componentDir(), dir.path());
    EXPECT_EQ(inComponentDir("tarvo_download.xsd"), dir / "TARVO_download.XSD");
    EXPECT_EQ(inComponentDir("absent.xml"), dir / "absent.xml");
    setComponentDir(std::nullopt);
    EXPECT_NE(componentDir(), dir.path());
}

TEST(Files, ReplacingContentKeepsPermissionsAndLeavesNoTemporaryFiles) {
    TempDir dir;
    const auto target = dir.write("doc.xml", "old");
    ::chmod(target.c_str(), 0600);
    replaceFileContent(target, "new content");
    EXPECT_EQ(test::readAll(target), "new content");
    struct stat st {};
    ::stat(target.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(Files, AFailedReplaceLeavesTheOldContent) {
    TempDir dir;
    const auto target = dir.write("doc.xml", "old");
    EXPECT_THROW(replaceFileContent(dir / "missing-folder" / "doc.xml", "x"), Error);
    // A target that is a folder cannot be replaced by a file.
    std::filesystem::create_directory(dir / "folder");
    EXPECT_THROW(replaceFileContent(dir / "folder", "x"), Error);
    EXPECT_EQ(test::readAll(target), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

// A write killed half-way leaves its temporary file behind; the next write of the same target
// removes it once it is older than a minute, and touches nothing else.
TEST(Files, AWriteRemovesItsOwnOldLeftoversOnly) {
    TempDir dir;
    const auto age = [&](const std::string& name, std::chrono::seconds by) {
        const auto path = dir.write(name, "partial");
        std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - by);
    };
    using namespace std::chrono_literals;
    age(".Banner1.jpg.ovk-tmp-a1B2c3", 120s);  // a killed write of this target: removed
    age(".Banner1.jpg.ovk-tmp-d4E5f6", 5s);    // perhaps a write under way: kept
    age(".other.jpg.ovk-tmp-a1B2c3", 120s);    // another target's: kept
    age(".Banner1.jpg.a1B2c3", 120s);          // not a name the component gives: kept
    age("Banner1.jpg.ovk-tmp-a1B2c3", 120s);   // not hidden, so not ours: kept
    replaceFileContent(dir / "Banner1.jpg", "picture");
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"Banner1.jpg", ".Banner1.jpg.ovk-tmp-d4E5f6",
                                            ".other.jpg.ovk-tmp-a1B2c3", ".Banner1.jpg.a1B2c3",
                                            "Banner1.jpg.ovk-tmp-a1B2c3"}));
}

// Large writes take the pipe, small ones write(); a descriptor opened for appending, which
// splice refuses, still gets every byte, in order, at its end.
TEST(Files, WritesFromMemoryArriveWholeWhicheverWayTheyTake) {
    TempDir dir;
    std::string big(std::size_t{3} << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
    const std::string small = "a small record\n";
    for (const int flags : {O_WRONLY, O_WRONLY | O_APPEND}) {
        for (const bool atOffset : {false, true}) {
            if (atOffset && (flags & O_APPEND) != 0) continue;
            const auto path = dir.write("out", "start");
            const int fd = ::open(path.c_str(), flags);
            ASSERT_GE(fd, 0);
            ::lseek(fd, 5, SEEK_SET);
            off_t at = 5;
            for (const std::string_view piece :
                 {std::string_view(big), std::string_view(small), std::string_view(big)}) {
                EXPECT_EQ(writeFromMemory(fd, piece, atOffset ? at : -1), 0);
                at += static_cast<off_t>(piece.size());
            }
            ::close(fd);
            EXPECT_TRUE(test::readAll(path) == "start" + big + small + big) << flags << atOffset;
        }
    }
    EXPECT_EQ(writeFromMemory(-1, big, 0), EBADF);
}

}  // namespace
}  // namespace ovk::files
