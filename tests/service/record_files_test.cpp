// The symbol and GER files: their layout, the duplicate check, and files others write to.

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/errors.hpp"
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

TEST(RecordFiles, RefusesALinkStandingAtTheFilesName) {
    TempDir dir;
    const auto outside = dir.write("outside.txt", "untouched");
    std::filesystem::create_symlink(outside, dir / "sym.txt");
    RecordFiles files;
    EXPECT_THROW(files.AppendSymbolRecord(dir / "sym.txt", "SYMBOL one\nEND"), Error);
    EXPECT_EQ(readAll(outside), "untouched");
}

}  // namespace
}  // namespace ovk
