#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>

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
    const auto contentOf = [](const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    };
    struct Case {
        const char* name;
        int flags;
        off_t offset;  // negative: at the file position
    };
    for (const Case& c : {Case{"at-offset", O_WRONLY, 5}, Case{"at-position", O_WRONLY, -1},
                          Case{"appending", O_WRONLY | O_APPEND, -1}}) {
        SCOPED_TRACE(c.name);
        const auto path = dir.write(c.name, "start");
        const int fd = ::open(path.c_str(), c.flags);
        ASSERT_GE(fd, 0);
        if (c.offset < 0 && (c.flags & O_APPEND) == 0) ::lseek(fd, 5, SEEK_SET);
        EXPECT_EQ(writeFromMemory(fd, big, c.offset), 0);
        EXPECT_EQ(
            writeFromMemory(fd, small, c.offset < 0 ? -1 : 5 + static_cast<off_t>(big.size())), 0);
        EXPECT_EQ(
            writeFromMemory(fd, big,
                            c.offset < 0 ? -1 : 5 + static_cast<off_t>(big.size() + small.size())),
            0);
        ::close(fd);
        EXPECT_TRUE(contentOf(path) == "start" + big + small + big);
    }
    EXPECT_EQ(writeFromMemory(-1, big, 0), EBADF);
}

}  // namespace
}  // namespace ovk::files
