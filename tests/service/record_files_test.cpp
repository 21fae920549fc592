// SPDX-License-Identifier: MIT
// The symbol and GER files: their layout, the duplicate check, and files others write to.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <optional>

#include "platform/errors.hpp"
#include "service/document_store.hpp"
#include "service/record_files.hpp"
#include "temp_dir.hpp"

namespace ovk {
namespace {

using test::readAll;
using test::TempDir;

struct Append {
    bool symbol;
    std::string record;
};

TEST(RecordFiles, LayoutAndDuplicateCheck) {
    struct Case {
        const char* name;
        std::string existing;  // "<none>": no file yet
        std::vector<Append> appends;
        std::string expected;  // in the file's code page
    };
    const std::string none = "<none>";
    const std::vector<Case> cases = {
        {"a new symbol file starts with a line of its own; records are separated by space lines",
         none,
         {{true, "SYMBOL motor A\nEND"}, {true, "SYMBOL motor B\nEND"}},
         " \r\n \r\nSYMBOL motor A\r\nEND\r\n \r\nSYMBOL motor B\r\nEND"},
        {"a GER file starts empty; each record starts on a line of its own",
         none,
         {{false, "GER 4711 motor\nEND"}, {false, "GER 4712 motor\nEND"}},
         "GER 4711 motor\r\nEND\r\nGER 4712 motor\r\nEND"},
        {"a first line already in the file in another case is not written again",
         none,
         {{true, "SYMBOL Motor A\nEND"}, {true, "symbol MOTOR a\nother"}},
         " \r\n \r\nSYMBOL Motor A\r\nEND"},
        {"first lines shorter than 8 characters are never searched for",
         none,
         {{false, "GER 1\nEND"}, {false, "GER 1\nEND"}},
         "GER 1\r\nEND\r\nGER 1\r\nEND"},
        {"a record without a line feed has an empty first line and is always written",
         none,
         {{false, "ONE LINE RECORD"}, {false, "ONE LINE RECORD"}},
         "ONE LINE RECORD\r\nONE LINE RECORD"},
        {"lines written by another program count, whatever their line ends",
         "HEADER\nGER 4711 motor\rX\r\n",
         {{false, "ger 4711 MOTOR\nEND"}, {false, "GER 4712 motor\nEND"}},
         "HEADER\nGER 4711 motor\rX\r\nGER 4712 motor\r\nEND"},
        {"carriage returns already in a record are not doubled",
         none,
         {{false, "GER with CRLF\r\nEND\r\n"}, {false, "GER with CRLF\nagain"}},
         "GER with CRLF\r\nEND\r\n"},
        {"text is stored in the Windows-1252 code page and compared after that round trip",
         none,
         {{false, "GER Größe €\nEND"}, {false, "GER GRÖSSE €\nEND"}, {false, "GER grÖße €\nX"}},
         "GER Gr\xF6\xDF"
         "e \x80\r\nEND\r\nGER GR\xD6SSE \x80\r\nEND"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        if (c.existing != none) dir.write("records.txt", c.existing);
        RecordFiles files;
        for (const Append& a : c.appends) {
            if (a.symbol) {
                files.AppendSymbolRecord(dir / "records.txt", a.record);
            } else {
                files.AppendGerRecord(dir / "records.txt", a.record);
            }
        }
        EXPECT_EQ(readAll(dir / "records.txt"), c.expected);
    }
}

TEST(RecordFiles, NoticesWhenAnotherProgramChangedTheFile) {
    TempDir dir;
    RecordFiles files;
    files.AppendGerRecord(dir / "ger.txt", "GER first record\nEND");
    // Another program rewrites the file behind our back: the first record is gone, so it is
    // written again; a record it added is now known.
    dir.write("ger.txt", "GER other program\r\nEND");
    files.AppendGerRecord(dir / "ger.txt", "GER first record\nEND");
    files.AppendGerRecord(dir / "ger.txt", "GER OTHER PROGRAM\nEND");
    EXPECT_EQ(readAll(dir / "ger.txt"), "GER other program\r\nEND\r\nGER first record\r\nEND");
    // Two objects (two Clients) on one file see each other's records.
    RecordFiles second;
    second.AppendGerRecord(dir / "ger.txt", "ger first record\nEND");
    files.AppendGerRecord(dir / "ger.txt", "GER third record\nEND");
    second.AppendGerRecord(dir / "ger.txt", "GER third record\nEND");
    EXPECT_EQ(readAll(dir / "ger.txt"),
              "GER other program\r\nEND\r\nGER first record\r\nEND\r\nGER third record\r\nEND");
}

TEST(RecordFiles, FollowsTheFilesAsAnotherProgramAppendsToThem) {
    TempDir dir;
    RecordFiles files;
    const auto ger = dir / "ger.txt";
    const auto appendOther = [&](const std::string& bytes) {
        std::ofstream(ger, std::ios::binary | std::ios::app) << bytes;
    };
    files.AppendGerRecord(ger, "GER first record\nEND");
    // Its line is not finished yet: it counts as it stands, and no longer once it goes on.
    appendOther("\r\nGER appended by other");
    files.AppendGerRecord(ger, "ger APPENDED by OTHER\nEND");
    appendOther(" program\r\n");
    files.AppendGerRecord(ger, "GER appended by other\nEND");
    files.AppendGerRecord(ger, "GER APPENDED BY OTHER PROGRAM\nEND");
    files.AppendGerRecord(ger, "GER first record\nEND");
    EXPECT_EQ(readAll(ger),
              "GER first record\r\nEND\r\nGER appended by other program\r\n"
              "GER appended by other\r\nEND");
    // Replaced by a longer file whose earlier bytes differ: indexed anew, so the first
    // record, gone from the file, is written again.
    const std::string replaced(readAll(ger).size() + 10, 'x');
    dir.write("ger.txt", replaced);
    files.AppendGerRecord(ger, "GER first record\nEND");
    EXPECT_EQ(readAll(ger), replaced + "\r\nGER first record\r\nEND");
}

TEST(RecordFiles, WritesThroughALinkStandingAtTheFilesName) {
    TempDir dir;
    std::filesystem::create_directories(dir / "shared");
    const auto target = dir.write("shared/sym.txt", " \r\n \r\nSYMBOL one\r\nEND");
    std::filesystem::create_symlink("shared/sym.txt", dir / "sym.txt");
    std::filesystem::create_symlink(dir / "shared" / "new.txt", dir / "dangling.txt");
    RecordFiles files;
    files.AppendSymbolRecord(dir / "sym.txt", "SYMBOL one\nEND");
    files.AppendSymbolRecord(dir / "sym.txt", "SYMBOL two\nEND");
    files.AppendSymbolRecord(dir / "dangling.txt", "SYMBOL three\nEND");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "sym.txt"));
    EXPECT_EQ(readAll(target), " \r\n \r\nSYMBOL one\r\nEND\r\n \r\nSYMBOL two\r\nEND");
    EXPECT_EQ(readAll(dir / "shared" / "new.txt"), " \r\n \r\nSYMBOL three\r\nEND");
}

// A download killed after appending the records of an article it never saved: the next run
// that takes the document cuts them off again, but never a line another program appended.
TEST(RecordFiles, AKilledDownloadsUnsavedRecordsGoButNeverAnotherProgramsLines) {
    const std::string one = "GER one\r\nEND\r\n";
    const std::string two = "GER two\r\nEND\r\n";
    const std::string theirs = "THEIRS\r\n";
    struct Case {
        const char* name;
        std::optional<std::string> before;  // none: no file yet
        bool theirsBetween;                 // between our two records
        bool theirsAfter;                   // after the kill, before the repair
        std::optional<std::string> left;    // none: no file
    };
    const std::vector<Case> cases = {
        {"a file the download made goes", std::nullopt, false, false, std::nullopt},
        {"a file the host keeps is cut back", "HOST\r\n", false, false, "HOST\r\n"},
        {"ours before another program's lines stay", "HOST\r\n", true, false,
         "HOST\r\n" + one + theirs},
        {"another program appended after them: all stay", "HOST\r\n", false, true,
         "HOST\r\n" + one + two + theirs},
    };
    const auto appendTheirs = [&](const std::filesystem::path& file) {
        std::ofstream(file, std::ios::binary | std::ios::app) << theirs;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir work;
        const auto document = work.write("download.xml", "<Download/>");
        const auto ger = work / "ger.txt";
        if (c.before) work.write("ger.txt", *c.before);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            try {
                DocumentStore store(document);
                RecordFiles files;
                files.journalWith(&store);
                files.AppendGerRecord(ger, "GER one\nEND\n");
                if (c.theirsBetween) appendTheirs(ger);
                files.AppendGerRecord(ger, "GER two\nEND\n");
                ::raise(SIGKILL);  // as a crash would, with the document still held
            } catch (...) {
            }
            ::_exit(2);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        if (c.theirsAfter) appendTheirs(ger);
        { const DocumentStore repaired(document); }
        EXPECT_EQ(std::filesystem::exists(ger), c.left.has_value());
        if (c.left) {
            EXPECT_EQ(readAll(ger), *c.left);
        }
    }
}

}  // namespace
}  // namespace ovk
