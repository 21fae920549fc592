#include <gtest/gtest.h>

#include <sys/stat.h>

#include "platform/errors.hpp"
#include "platform/files.hpp"
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

}  // namespace
}  // namespace ovk::files
