// SPDX-License-Identifier: MIT
// The wizard for a keyboard-only user: links that act from the keys, a window that fits the
// screen at any scale, selected rows that read well, and a download from the keys alone.
// (What a screen reader hears on every step is checked with the screenshots of every step.)

#include <gtest/gtest.h>

#include <QFocusFrame>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>

#include "client_harness.hpp"
#include "component/client_impl.hpp"
#include "ovk/client.hpp"
#include "qt/desktop_client_services.hpp"
#include "qt/readable_palette.hpp"
#include "screenshot_folder.hpp"
#include "wizard_window.hpp"

namespace ovk {
namespace {

using test::waitFor;
using test::widget;

// Presses Tab in `window` until `name` has its keyboard focus, as a user does; false when
// it never comes. Offscreen, a wizard over the splash is never the active window: its own
// focus widget is where a desktop would send the keys.
void press(QWidget& window, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QWidget* focus = window.focusWidget();
    QTest::keyClick(focus != nullptr ? focus : &window, key, modifiers);
}
bool reach(QWidget& window, const char* name) {
    for (int i = 0; i < 40; ++i) {
        if (window.focusWidget() != nullptr && window.focusWidget()->objectName() == name)
            return true;
        press(window, Qt::Key_Tab);
    }
    return false;
}

TEST(ReadablePalette, SelectedRowsReadAtFourAndAHalfToOneInTheirOwnHue) {
    // The style's white on blue (3.69:1), a user's navy that reads well (16:1) and stays, dark
    // text on a dark selection (1.72:1), white on white.
    for (const auto& [text, highlight, before] :
         {std::tuple{QColor(Qt::white), QColor(0x30, 0x8C, 0xC6), 3.69},
          {QColor(Qt::white), QColor(0, 0, 128), 16.0},
          {QColor(Qt::black), QColor(0x30, 0x30, 0x60), 1.72},
          {QColor(Qt::white), QColor(Qt::white), 1.0}}) {
        const std::string name = highlight.name().toStdString();
        QPalette palette;
        palette.setColor(QPalette::HighlightedText, text);
        palette.setColor(QPalette::Highlight, highlight);
        EXPECT_NEAR(contrastRatio(text, highlight), before, 0.01) << name;
        const QColor shown =
            withReadableSelection(palette).color(QPalette::Inactive, QPalette::Highlight);
        EXPECT_GE(contrastRatio(text, shown), 4.5) << name;
        EXPECT_TRUE(before < 4.5 || shown == highlight) << name;
        EXPECT_NEAR(shown.hslHue(), highlight.hslHue(), 2) << name;
    }
}

class WizardAccessibilityTest : public test::SharedRefServiceTest {};

// The buttons of the step on screen that a user cannot see without scrolling, or at all.
std::vector<std::string> buttonsOutOfSight(QWidget& window, const char* step) {
    std::vector<std::string> faults;
    const QWidget& viewport = *window.findChild<QScrollArea*>()->viewport();
    const QRect screen = window.screen()->availableGeometry();
    for (const QPushButton* button : window.findChildren<QPushButton*>()) {
        if (!button->isVisibleTo(&window)) continue;
        const QRect inWindow(button->mapTo(&viewport, QPoint(0, 0)), button->size());
        const QRect onScreen(button->mapToGlobal(QPoint(0, 0)), button->size());
        if (!viewport.rect().contains(inWindow) || !screen.contains(onScreen))
            faults.push_back(std::string(step) + " " + button->objectName().toStdString());
    }
    return faults;
}

// CTest runs this once more at QT_SCALE_FACTOR=2 on a 1280 by 800 screen, half the window's
// height: the lists, the tree and the banner give way, so that every button of every step
// stays in sight, and the window is kept as a picture.
TEST_F(WizardAccessibilityTest, TheWindowFitsTheScreenAndItsLinksOpenFromTheKeys) {
    test::WizardWindow w(service(), 1033);
    w.wizard.BannerURL = "https://www.velmora.example/";
    w.wizard.MailURL = "mailto:support@velmora.example";
    QSize window, available;
    bool reached = false, mailInSight = false;
    std::vector<std::string> outOfSight;
    w.show([&](QWidget& wizard) {
        window = wizard.frameGeometry().size();
        available = wizard.screen()->availableGeometry().size();
        auto step = [&](int number, const char* button) {
            if (button != nullptr)
                QTest::mouseClick(&widget<QPushButton>(wizard, button), Qt::LeftButton);
            const std::string name = "step" + std::to_string(number);
            const auto faults = buttonsOutOfSight(wizard, name.c_str());
            outOfSight.insert(outOfSight.end(), faults.begin(), faults.end());
            if (wizard.devicePixelRatioF() > 1.5)
                wizard.grab().save(QString::fromStdString(
                    (test::screenshotFolder() / ("wizard-" + name + "-en-2x.png")).string()));
        };
        step(1, nullptr);
        step(2, "cmdNext");
        step(1, "cmdBack");
        step(0, "cmdBack");
        step(1, "cmdCancel");
        reached = reach(wizard, "Image1");
        press(wizard, Qt::Key_Return);
        reached = reached && reach(wizard, "lblMailToQuorvel");
        const QWidget& viewport = *wizard.findChild<QScrollArea*>()->viewport();
        auto& mail = widget<QWidget>(wizard, "lblMailToQuorvel");
        mailInSight =
            viewport.rect().contains(QRect(mail.mapTo(&viewport, QPoint(0, 0)), mail.size()));
        press(wizard, Qt::Key_Space);
        press(wizard, Qt::Key_Escape);
    });
    EXPECT_LE(window.width(), available.width());
    EXPECT_LE(window.height(), available.height());
    EXPECT_TRUE(outOfSight.empty()) << ::testing::PrintToString(outOfSight);
    EXPECT_TRUE(reached);
    EXPECT_TRUE(mailInSight);
    ASSERT_EQ(w.shell.calls().size(), 2u);
    EXPECT_EQ(w.shell.calls()[0].target, "https://www.velmora.example/");
    EXPECT_EQ(w.shell.calls()[1].target, "mailto:support@velmora.example");
}

// The control that has the keyboard focus, and whether the focus frame shows it.
std::string focusShown(QWidget& window) {
    QWidget* focus = window.focusWidget();
    if (focus == nullptr || !focus->isVisible() || !focus->isEnabled()) return "nothing";
    const auto* frame = window.findChild<QFocusFrame*>();
    const bool framed = frame != nullptr && frame->isVisible() && frame->widget() == focus;
    return focus->objectName().toStdString() + (framed ? "" : " without its frame");
}

// The whole component by keys alone: a field out and back in, a leaf, Mark All from the Menu
// key, Reset Marking from Shift+F10, one mark by Space, Next, Back and the lose question
// answered from the keys, Next and Finish by Enter, to DownloadComplete. Each step opens on
// its first input control, and the focus shows again after the question.
TEST(KeyboardOnly, TheWholeWizardFromTheKeysEndsInDownloadComplete) {
    ensureApplication();
    const test::ComponentFolder folder;
    const test::TempDir settings, work;
    const test::RefService service;
    Client client(std::make_unique<Client::Impl>(
        std::make_shared<const ClientServices>(desktopClientServices(settings.path()))));
    test::RecordingEvents events;
    client.setEvents(&events);
    ASSERT_EQ(
        client.Init(work.write("download.xml", test::downloadDocument(
                                                   "TARVO", "<URL>" + service.url() +
                                                                "</URL><ProjectID>DEMO</ProjectID>"
                                                                "<Language>English</Language>"
                                                                "<Password>demo</Password>"))
                        .string()),
        0);

    std::vector<std::string> missed, focus;
    QString menuName, firstEntry, count;
    bool allMarked = false;
    test::whenDialog("frmWiz", [&](QWidget& window) {
        auto to = [&](const char* name) {
            if (!reach(window, name)) missed.emplace_back(name);
        };
        focus.push_back(focusShown(window));
        for (const auto& [control, key] : {std::pair{"cmdBack", Qt::Key_Space},
                                           {"lstSelected", Qt::Key_End},
                                           {"cmdLeftOne", Qt::Key_Space},
                                           {"lstAll", Qt::Key_End},
                                           {"cmdRightOne", Qt::Key_Space},
                                           {"cmdNext", Qt::Key_Space}}) {
            to(control);
            press(window, key);
            if (std::string_view(control) == "cmdBack") focus.push_back(focusShown(window));
        }
        focus.push_back(focusShown(window));
        to("tvTree");
        auto& tree = widget<QTreeView>(window, "tvTree");
        press(window, Qt::Key_Home);
        for (int i = 0; i < 20 && tree.model()->rowCount(tree.currentIndex()) > 0; ++i) {
            press(window, Qt::Key_Right);
            press(window, Qt::Key_Down);
        }
        auto& list = widget<QTreeView>(window, "lvList");
        waitFor([&] { return list.model()->rowCount() > 0 && tree.isEnabled(); });

        to("lvList");
        press(window, Qt::Key_Home);
        test::whenPopupMenu([&](QMenu& menu) {
            menuName = menu.accessibleName();
            waitFor([&] { return menu.activeAction() != nullptr; }, 2000);
            if (menu.activeAction() != nullptr) firstEntry = menu.activeAction()->objectName();
            QTest::keyClick(&menu, Qt::Key_Return);
        });
        press(window, Qt::Key_Menu);
        allMarked = list.model()->rowCount() > 0;
        for (int row = 0; row < list.model()->rowCount(); ++row)
            allMarked =
                allMarked && list.model()->index(row, 0).data(Qt::CheckStateRole) == Qt::Checked;
        test::whenPopupMenu([](QMenu& menu) {
            waitFor([&] { return menu.activeAction() != nullptr; }, 2000);
            QTest::keyClick(&menu, Qt::Key_Down);
            QTest::keyClick(&menu, Qt::Key_Return);
        });
        press(window, Qt::Key_F10, Qt::ShiftModifier);
        press(window, Qt::Key_Space);

        // Enter in the list goes on to step 2, whose Back leads to step 1 and "Configuration"
        // to the lose question, declined with Escape.
        press(window, Qt::Key_Return);
        focus.push_back(focusShown(window));
        count = widget<QLabel>(window, "lblDownloadCount").text();
        press(window, Qt::Key_B, Qt::AltModifier);
        waitFor([&] { return widget<QWidget>(window, "picStep(1)").isVisible(); }, 2000);
        test::whenMessageBox([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
        press(window, Qt::Key_O, Qt::AltModifier);
        waitFor([&] { return QApplication::activeModalWidget() == &window; }, 2000);
        focus.push_back(focusShown(window));
        to("cmdNext");
        press(window, Qt::Key_Return);
        press(window, Qt::Key_Return);
        // A wizard still open here would wait for a user who is not there.
        if (window.isVisible()) {
            ADD_FAILURE() << "Finish left the wizard open";
            window.close();
        }
    });
    client.Show();
    EXPECT_TRUE(missed.empty()) << ::testing::PrintToString(missed);
    // On opening, after Configuration, after Next, on step 2, after the declined question.
    EXPECT_EQ(focus,
              (std::vector<std::string>{"tvTree", "lstAll", "tvTree", "cmdFinish", "tvTree"}));
    EXPECT_EQ(menuName, "List Options");
    EXPECT_EQ(firstEntry, "mnuLvSelectAll");
    EXPECT_TRUE(allMarked);
    EXPECT_EQ(count, "You have selected 1 objects for download.");
    EXPECT_EQ(events.log.back(), "DownloadComplete") << ::testing::PrintToString(events.log);
    EXPECT_EQ(std::count(events.log.begin(), events.log.end(), "DownloadCancel"), 0);
}

}  // namespace
}  // namespace ovk
