// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

#include "modal_helpers.hpp"
#include "qt/message_box.hpp"
#include "qt/qt_application.hpp"
#include "qt/qt_user_interface.hpp"

namespace ovk {
namespace {

using test::whenDialog;
using test::whenMessageBox;

using B = MsgBoxButtons;
using A = MsgBoxAnswer;

const MsgBoxButtons kAllButtons[] = {B::OkOnly,      B::OkCancel, B::AbortRetryIgnore,
                                     B::YesNoCancel, B::YesNo,    B::RetryCancel};
const MsgBoxDefault kAllDefaults[] = {MsgBoxDefault::First, MsgBoxDefault::Second,
                                      MsgBoxDefault::Third};

class MessageBoxTest : public ::testing::Test {
  protected:
    void SetUp() override { ensureApplication(); }
};

TEST_F(MessageBoxTest, EachButtonSetHasItsButtonsAndItsDefaultGivesTheDefaultAnswer) {
    const std::map<MsgBoxButtons, QMessageBox::StandardButtons> expected = {
        {B::OkOnly, QMessageBox::Ok},
        {B::OkCancel, QMessageBox::Ok | QMessageBox::Cancel},
        {B::AbortRetryIgnore, QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore},
        {B::YesNoCancel, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel},
        {B::YesNo, QMessageBox::Yes | QMessageBox::No},
        {B::RetryCancel, QMessageBox::Retry | QMessageBox::Cancel},
    };
    for (MsgBoxButtons buttons : kAllButtons) {
        for (MsgBoxDefault defaultButton : kAllDefaults) {
            const auto box =
                buildMessageBox("text", "title", buttons, MsgBoxIcon::None, defaultButton);
            EXPECT_EQ(box->standardButtons(), expected.at(buttons)) << static_cast<int>(buttons);
            ASSERT_NE(box->defaultButton(), nullptr);
            EXPECT_EQ(answerFor(*box, box->defaultButton()), defaultAnswer(buttons, defaultButton))
                << static_cast<int>(buttons) << "/" << static_cast<int>(defaultButton);
        }
    }
}

TEST_F(MessageBoxTest, EveryButtonAnswersWithItsOwnAnswer) {
    const auto box =
        buildMessageBox("text", "title", B::YesNoCancel, MsgBoxIcon::None, MsgBoxDefault::First);
    EXPECT_EQ(answerFor(*box, box->button(QMessageBox::Yes)), A::Yes);
    EXPECT_EQ(answerFor(*box, box->button(QMessageBox::No)), A::No);
    EXPECT_EQ(answerFor(*box, box->button(QMessageBox::Cancel)), A::Cancel);
}

TEST_F(MessageBoxTest, ClosingWithoutAButtonGivesCancelOrNoWhereTheBoxHasOne) {
    const std::map<MsgBoxButtons, MsgBoxAnswer> expected = {
        {B::OkOnly, A::Ok},          {B::OkCancel, A::Cancel}, {B::AbortRetryIgnore, A::Abort},
        {B::YesNoCancel, A::Cancel}, {B::YesNo, A::No},        {B::RetryCancel, A::Cancel},
    };
    for (MsgBoxButtons buttons : kAllButtons) {
        const auto box =
            buildMessageBox("text", "title", buttons, MsgBoxIcon::None, MsgBoxDefault::First);
        EXPECT_EQ(answerFor(*box, nullptr), expected.at(buttons)) << static_cast<int>(buttons);
        EXPECT_EQ(answerFor(*box, box->escapeButton()), expected.at(buttons))
            << static_cast<int>(buttons);
    }
}

TEST_F(MessageBoxTest, IconsMapToTheirQtCounterparts) {
    const std::pair<MsgBoxIcon, QMessageBox::Icon> cases[] = {
        {MsgBoxIcon::None, QMessageBox::NoIcon},
        {MsgBoxIcon::Critical, QMessageBox::Critical},
        {MsgBoxIcon::Question, QMessageBox::Question},
        {MsgBoxIcon::Exclamation, QMessageBox::Warning},
        {MsgBoxIcon::Information, QMessageBox::Information},
    };
    for (const auto& [icon, qtIcon] : cases) {
        EXPECT_EQ(buildMessageBox("t", "t", B::OkOnly, icon, MsgBoxDefault::First)->icon(), qtIcon);
    }
}

TEST_F(MessageBoxTest, TitleAndTextAreShownAsGivenWithoutInterpretingMarkup) {
    const std::string text =
        "<b>Fehler</b> & \xC3\xBC"
        "berall\r\nzweite Zeile";
    const auto box = buildMessageBox(text, "Velmora .NET Testfunktion", B::OkOnly, MsgBoxIcon::None,
                                     MsgBoxDefault::First);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(box->text().toStdString(), text);
    EXPECT_EQ(box->windowTitle().toStdString(), "Velmora .NET Testfunktion");
}

TEST_F(MessageBoxTest, ValuesOutsideTheEnumsGiveAnOkBoxWithoutIcon) {
    const auto box = buildMessageBox("t", "t", static_cast<MsgBoxButtons>(77),
                                     static_cast<MsgBoxIcon>(99), static_cast<MsgBoxDefault>(1000));
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(answerFor(*box, box->defaultButton()), A::Ok);
}

TEST_F(MessageBoxTest, MsgBoxReturnsTheButtonTheUserClicks) {
    QtUserInterface ui;
    whenMessageBox([](QMessageBox& box) { box.button(QMessageBox::Retry)->click(); });
    EXPECT_EQ(ui.msgBox("t", "t", B::AbortRetryIgnore, MsgBoxIcon::Critical, MsgBoxDefault::First),
              A::Retry);

    whenMessageBox([](QMessageBox& box) { box.defaultButton()->click(); });
    EXPECT_EQ(ui.msgBox("t", "t", B::YesNo, MsgBoxIcon::Information, MsgBoxDefault::Second), A::No);
}

TEST_F(MessageBoxTest, EscapeAndTheWindowFrameGiveCancelOrNo) {
    QtUserInterface ui;
    whenMessageBox([](QMessageBox& box) {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(&box, &escape);
    });
    EXPECT_EQ(ui.msgBox("t", "t", B::YesNoCancel, MsgBoxIcon::Question, MsgBoxDefault::First),
              A::Cancel);

    whenMessageBox([](QMessageBox& box) { box.close(); });
    EXPECT_EQ(ui.msgBox("t", "t", B::YesNo, MsgBoxIcon::Question, MsgBoxDefault::First), A::No);
}

TEST_F(MessageBoxTest, TheHourglassIsOneOverrideAndGivesWayToTheArrowWhileABoxWaits) {
    QtUserInterface ui;
    ASSERT_EQ(QApplication::overrideCursor(), nullptr);
    ui.setMousePointer(MousePointer::Hourglass);
    ui.setMousePointer(MousePointer::Hourglass);
    EXPECT_EQ(ui.mousePointer(), MousePointer::Hourglass);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

    Qt::CursorShape duringBox = Qt::WaitCursor;
    whenMessageBox([&](QMessageBox& box) {
        duringBox = QApplication::overrideCursor()->shape();
        box.defaultButton()->click();
    });
    ui.msgBox("t", "t", B::OkOnly, MsgBoxIcon::None, MsgBoxDefault::First);
    EXPECT_EQ(duringBox, Qt::ArrowCursor);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

    ui.setMousePointer(MousePointer::Default);
    EXPECT_EQ(ui.mousePointer(), MousePointer::Default);
    // Two hourglass requests pushed one override, so one restore leaves none.
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ui.setMousePointer(MousePointer::Default);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace ovk
