// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.hpp"
#include "platform/platform_info.hpp"
#include "platform/scripted_user_interface.hpp"
#include "platform/shell.hpp"
#include "shell_fake_opener.hpp"
#include "support/fake_shell.hpp"
#include "util/open_doc_api.hpp"

namespace ovk {
namespace {

using namespace std::chrono_literals;
using test::FakePlatformInfo;
using test::FakeShell;

class WizardForm : public Form {
  public:
    std::string_view formName() const override { return "frmWiz"; }
};

const std::string kSorryText =
    "You need to upgrade your version of windows to use the 'Wait for Process to End' feature of "
    "this function: 'ShellExecAndWait'.";

class OpenDocApiTest : public ::testing::Test {
  protected:
    void TearDown() override { files::setComponentDir(std::nullopt); }

    void expectOneExclamation(const std::string& text, const std::string& title) {
        ASSERT_EQ(ui.boxes().size(), 1u);
        EXPECT_EQ(ui.boxes()[0].text, text);
        EXPECT_EQ(ui.boxes()[0].title, title);
        EXPECT_EQ(ui.boxes()[0].icon, MsgBoxIcon::Exclamation);
        EXPECT_EQ(ui.boxes()[0].buttons, MsgBoxButtons::OkOnly);
    }

    FakeShell shell;
    FakePlatformInfo platform;
    ScriptedUserInterface ui;
    ShellServices services{shell, platform, ui};
    WizardForm form;
};

TEST_F(OpenDocApiTest, OpenDocumentHandsTheTargetOverFromTheComponentFolderSilently) {
    files::setComponentDir("/opt/ovk");

    EXPECT_EQ(OpenDocApi::OpenDocument(services, form, " http://example.invalid/ ", 0), -1);

    ASSERT_EQ(shell.calls().size(), 1u);
    const ShellRequest& request = shell.calls()[0];
    EXPECT_EQ(request.target, " http://example.invalid/ ");
    EXPECT_EQ(request.workingDirectory, std::filesystem::path("/opt/ovk"));
    EXPECT_EQ(request.showCommand, 0);
    EXPECT_EQ(request.owner, &form);
    EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(OpenDocApiTest, OpenDocumentExplainsAMissingAssociationNamingTheTarget) {
    shell.queueResult(shell_result::NoAssociation);

    EXPECT_EQ(OpenDocApi::OpenDocument(services, form, "mailto:info@example.invalid", 0), 0);

    expectOneExclamation(
        "ovk_client could not find a file association for mailto:info@example.invalid on your "
        "system. "
        "You should check that your browser is correctly installed and associated with this type "
        "of "
        "file.",
        "Browser Unavailable");
}

TEST_F(OpenDocApiTest, OpenDocumentReportsOtherFailuresWithTheirNumber) {
    for (const int32_t code : {shell_result::FileNotFound, shell_result::OutOfResources, 32}) {
        SCOPED_TRACE(code);
        ScriptedUserInterface fresh;
        ShellServices withFresh{shell, platform, fresh};
        shell.queueResult(code);

        EXPECT_EQ(OpenDocApi::OpenDocument(withFresh, form, "", 0), 0);

        ASSERT_EQ(fresh.boxes().size(), 1u);
        EXPECT_EQ(fresh.boxes()[0].text,
                  "ovk_client had a problem running your web browser. You should check that your "
                  "browser is correctly installed. (Error" +
                      std::to_string(code) + ")");
        EXPECT_EQ(fresh.boxes()[0].title, "Browser Unavailable");
        EXPECT_EQ(fresh.boxes()[0].icon, MsgBoxIcon::Exclamation);
    }
    // The empty target went to the shell as it was; the shell's answer chose the message.
    EXPECT_EQ(shell.calls().back().target, "");
}

TEST_F(OpenDocApiTest, ShellExecAndWaitExplainsAFailedOpenAndNeverWaits) {
    shell.queueResult(shell_result::FileNotFound);
    platform.set(6, platform_id::Win32Nt);
    std::string file = "setup.exe";
    bool wait = true;

    OpenDocApi::ShellExecAndWait(services, file, wait);

    expectOneExclamation("Unable to open this file: \n setup.exe", "Error Opening File");
    EXPECT_EQ(shell.waits(), 0);
}

TEST_F(OpenDocApiTest, ShellExecAndWaitOpensNormallyFromTheCurrentFolderForItsOwner) {
    std::string file = "https://example.invalid/setup.exe";
    bool wait = false;

    OpenDocApi::ShellExecAndWait(services, file, wait, &form);
    OpenDocApi::ShellExecAndWait(services, file, wait);

    ASSERT_EQ(shell.calls().size(), 2u);
    EXPECT_EQ(shell.calls()[0].target, file);
    EXPECT_EQ(shell.calls()[0].showCommand, 5);
    EXPECT_EQ(shell.calls()[0].workingDirectory, std::nullopt);
    EXPECT_EQ(shell.calls()[0].owner, &form);
    EXPECT_EQ(shell.calls()[1].owner, nullptr);
}

TEST_F(OpenDocApiTest, ShellExecAndWaitWithoutWaitReturnsAfterTheStartOnEverySystem) {
    for (const int32_t major : {3, 4, 5, 6, 10}) {
        platform.set(major, platform_id::Win32Nt);
        std::string file = "setup.exe";
        bool wait = false;
        OpenDocApi::ShellExecAndWait(services, file, wait);
    }
    EXPECT_EQ(shell.waits(), 0);
    EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(OpenDocApiTest, ShellExecAndWaitSaysSorryInsteadOfWaitingOnOtherVersions) {
    platform.set(5, platform_id::Win32Nt);
    std::string file = "setup.exe";
    bool wait = true;

    OpenDocApi::ShellExecAndWait(services, file, wait);

    expectOneExclamation(kSorryText, "Sorry!");
    EXPECT_EQ(shell.waits(), 0);
}

TEST_F(OpenDocApiTest, ShellExecAndWaitWaitsLettingPendingEventsRunWhereTheProgramCanBeFound) {
    shell.setChecksUntilExit(3);
    for (const int32_t id : {platform_id::Win32Windows, platform_id::Win32Nt}) {
        platform.set(4, id);
        std::string file = "setup.exe";
        bool wait = true;
        OpenDocApi::ShellExecAndWait(services, file, wait);
    }
    EXPECT_EQ(shell.waits(), 2);
    EXPECT_EQ(ui.pendingEventRuns(), 6);
    EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(OpenDocApiTest, ShellExecAndWaitDoesNotWaitWhereTheProgramCannotBeFound) {
    platform.set(4, 3);
    std::string file = "setup.exe";
    bool wait = true;

    OpenDocApi::ShellExecAndWait(services, file, wait);

    EXPECT_EQ(shell.waits(), 0);
    EXPECT_TRUE(ui.boxes().empty());
}

TEST(LinuxPlatformInfoTest, ReportsAVersionOnWhichStartedProgramsCanBeWaitedFor) {
    const OsVersion version = LinuxPlatformInfo().osVersion();
    EXPECT_EQ(version.majorVersion, kWaitCapableMajorVersion);
    EXPECT_EQ(version.platformId, platform_id::Win32Nt);
}

TEST(ShellExecAndWaitOnThisSystemTest, WaitsForTheStartedProgramWhileTheInterfaceStaysResponsive) {
    test::FakeOpener opener;
    opener.holdUntilGate();
    XdgOpenShell shell(opener.program(), 20ms);
    LinuxPlatformInfo platform;
    ScriptedUserInterface ui;
    // The program can only end once the interface has had its pending events run.
    ui.onPendingEvents([&] { opener.openGate(); });
    ShellServices services{shell, platform, ui};
    std::string file = "https://example.invalid/setup.exe";
    bool wait = true;

    OpenDocApi::ShellExecAndWait(services, file, wait);

    EXPECT_GT(ui.pendingEventRuns(), 0);
    EXPECT_TRUE(opener.finished());
    EXPECT_TRUE(ui.boxes().empty());
}

}  // namespace
}  // namespace ovk
