// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/shell.hpp"
#include "shell_fake_opener.hpp"

namespace ovk {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::FakeOpener;

// Long enough for the stand-in to exit on a busy machine; the open returns as soon as it does.
constexpr auto kPatientGrace = 60s;
// For openers held at their gate: they cannot exit within any grace, so keep it short.
constexpr auto kShortGrace = 20ms;

ShellRequest requestFor(std::string target, std::optional<fs::path> folder = std::nullopt) {
    ShellRequest request;
    request.target = std::move(target);
    request.workingDirectory = std::move(folder);
    return request;
}

bool isReaped(pid_t pid) {
    return waitpid(pid, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

class XdgOpenShellTest : public ::testing::Test {
  protected:
    FakeOpener opener;
    XdgOpenShell shell{opener.program(), kPatientGrace};
};

TEST_F(XdgOpenShellTest, HandsEveryTargetOverAsExactlyOneArgumentWithoutRunningAnyOfIt) {
    const fs::path folder = opener.dir() / "docs";
    fs::create_directory(folder);
    std::vector<std::string> targets = {
        "https://example.invalid/a b?q=it's \"quoted\"",
        "mailto:someone@example.invalid?subject=hi;touch pwned",
        "http://example.invalid/$(touch pwned)",
        "http://example.invalid/`touch pwned`|touch pwned&&touch pwned",
    };
    for (const char* name : {"a b.txt", "it's \"quoted\".txt", "x;touch pwned", "$(touch pwned)",
                             "`touch pwned`", "new\nline"}) {
        targets.push_back(opener.dir().write((fs::path("docs") / name).string(), "x").string());
    }

    for (const auto& target : targets) {
        SCOPED_TRACE(target);
        opener.reset();
        const ShellResult result = shell.open(requestFor(target, folder));
        EXPECT_EQ(result.code, shell_result::Started);
        EXPECT_EQ(opener.record().argv, (std::vector<std::string>{"xdg-open", target}));
    }
    EXPECT_FALSE(fs::exists(folder / "pwned"));
    EXPECT_FALSE(fs::exists("pwned"));
}

TEST_F(XdgOpenShellTest, FindsTheDefaultOpenerOnThePath) {
    const std::string savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (opener.bin().string() + ":" + savedPath).c_str(), 1);
    XdgOpenShell onPath("xdg-open", kPatientGrace);
    const ShellResult result = onPath.open(requestFor("https://example.invalid/"));
    setenv("PATH", savedPath.c_str(), 1);

    EXPECT_EQ(result.code, shell_result::Started);
    EXPECT_EQ(opener.record().argv,
              (std::vector<std::string>{"xdg-open", "https://example.invalid/"}));
}

TEST_F(XdgOpenShellTest, RelativeTargetIsFoundInAndOpenedFromTheWorkingFolder) {
    opener.dir().write("docs/readme.txt", "x");
    const fs::path folder = opener.dir() / "docs";

    const ShellResult result = shell.open(requestFor("readme.txt", folder));

    EXPECT_EQ(result.code, shell_result::Started);
    EXPECT_EQ(fs::path(opener.record().workingFolder), fs::canonical(folder));
    EXPECT_EQ(opener.record().argv.at(1), "readme.txt");
}

TEST_F(XdgOpenShellTest, FileWhoseNameStartsWithADashCannotBecomeAnOption) {
    opener.dir().write("docs/--help", "x");
    opener.dir().write("docs/-rf.pdf", "x");
    const fs::path folder = opener.dir() / "docs";

    for (const std::string name : {"--help", "-rf.pdf"}) {
        opener.reset();
        EXPECT_EQ(shell.open(requestFor(name, folder)).code, shell_result::Started);
        EXPECT_EQ(opener.record().argv.at(1), "./" + name);
    }
}

TEST_F(XdgOpenShellTest, TargetsThatNameNoFileFailWithoutStartingTheOpener) {
    const fs::path folder = opener.dir().path();
    for (const std::string& target :
         {std::string(), std::string("--help"), std::string("-x"), std::string("missing.pdf"),
          std::string("/no/such/folder/file.pdf"), std::string("www.example.invalid"),
          std::string("C:\\setup.exe"), std::string("bin\0/xdg-open", 13)}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(shell.open(requestFor(target, folder)).code, shell_result::FileNotFound);
        EXPECT_FALSE(opener.ran());
    }
}

TEST_F(XdgOpenShellTest, MissingWorkingFolderFailsWithoutStartingTheOpener) {
    EXPECT_EQ(shell.open(requestFor("https://example.invalid/", opener.dir() / "gone")).code,
              shell_result::PathNotFound);
    EXPECT_FALSE(opener.ran());
}

TEST_F(XdgOpenShellTest, OpenerExitStatusDecidesTheResult) {
    const std::vector<std::pair<int, int32_t>> cases = {
        {0, shell_result::Started},       {2, shell_result::FileNotFound},
        {3, shell_result::NoAssociation}, {4, shell_result::NoAssociation},
        {1, shell_result::AccessDenied},  {5, shell_result::AccessDenied},
        {77, shell_result::AccessDenied},
    };
    for (const auto& [status, expected] : cases) {
        SCOPED_TRACE(status);
        opener.exitWith(status);
        const ShellResult result = shell.open(requestFor("https://example.invalid/"));
        EXPECT_EQ(result.code, expected);
        EXPECT_EQ(result.succeeded(), result.process != nullptr);
    }
}

TEST_F(XdgOpenShellTest, MissingOpenerMeansNoProgramIsAssociated) {
    XdgOpenShell none((opener.dir() / "nowhere" / "xdg-open").string(), kPatientGrace);
    EXPECT_EQ(none.open(requestFor("https://example.invalid/")).code, shell_result::NoAssociation);
}

TEST_F(XdgOpenShellTest, OpenerGetsNeitherTheHostsInputNorItsOpenFiles) {
    const int inheritable = ::open("/dev/zero", O_RDONLY);  // deliberately without O_CLOEXEC
    ASSERT_GE(inheritable, 0);

    shell.open(requestFor("https://example.invalid/"));
    ::close(inheritable);

    EXPECT_EQ(opener.record().openDescriptors, "");
    EXPECT_EQ(opener.record().input, "null");
}

TEST_F(XdgOpenShellTest, WaitRunsTheCallbackUntilTheOpenerEndsAndReapsIt) {
    opener.holdUntilGate();
    XdgOpenShell impatient(opener.program(), kShortGrace);
    ShellResult result = impatient.open(requestFor("https://example.invalid/"));
    ASSERT_EQ(result.code, shell_result::Started);
    ASSERT_NE(result.process, nullptr);

    int callbacks = 0;
    result.process->waitForExit([&] {
        // The opener can only end after the caller had its turn at least once.
        if (++callbacks == 1) opener.openGate();
    });

    EXPECT_GE(callbacks, 1);
    EXPECT_TRUE(opener.finished());
    EXPECT_TRUE(isReaped(result.process->processId()));
}

TEST_F(XdgOpenShellTest, OpenerLeftRunningByTheCallerIsReapedByALaterOpen) {
    opener.holdUntilGate();
    XdgOpenShell impatient(opener.program(), kShortGrace);
    pid_t pid = -1;
    {
        ShellResult result = impatient.open(requestFor("https://example.invalid/"));
        ASSERT_NE(result.process, nullptr);
        pid = result.process->processId();
    }
    opener.openGate();
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT),
              0);  // ended, not reaped
    ASSERT_FALSE(isReaped(pid));

    impatient.open(requestFor(""));

    EXPECT_TRUE(isReaped(pid));
}

}  // namespace
}  // namespace ovk
