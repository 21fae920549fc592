// SPDX-License-Identifier: MIT
// The wizard in its real window against the reference service: what a user clicks and sees.

#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/errors.hpp"
#include "qt/twips.hpp"
#include "screenshot_folder.hpp"
#include "wizard_window.hpp"

namespace ovk {
namespace {

using test::clickCheckBox;
using test::clickIndex;
using test::clickMenuEntry;
using test::firstLeaf;
using test::waitFor;
using test::whenPopupMenu;
using test::widget;
using test::WizardWindow;

class WizardViewTest : public test::SharedRefServiceTest {};

bool shown(QWidget& window, const char* name) {
    return widget<QWidget>(window, name).isVisibleTo(&window);
}

// The page the window shows: the one step page on screen.
int shownPage(QWidget& window) {
    for (int i = 0; i < 3; ++i) {
        const std::string name = "picStep(" + std::to_string(i) + ")";
        if (shown(window, name.c_str())) return i;
    }
    return -1;
}

TEST_F(WizardViewTest, AUserPicksLeavesMarksArticlesGoesBackAndFinishes) {
    WizardWindow w(service(), 1033);
    struct Seen {
        int pageOnOpen = -1;
        QString title, back, next;
        bool rootOpen = false, finishEnabled = true;
        bool listEmptyRightAfterClick = false, listFilled = false;
        int defaultWidth = 0, carriedWidth = 0;
        int rowsA = 0, rowsB = 0;
        bool firstChecked = false, allChecked = false;
        int resetsByChecks = -1;
        QString loseText, loseTitle;
        int pageAfterDecline = -1, pageAfterAccept = -1;
        int selectedBefore = 0, selectedAfterDoubleClick = 0;
        QString countText;
        bool zeroLabelHidden = false;
        int progressValue = -1, progressMax = -1;
        QString progressText;
        bool mailLooksLikeALink = false;
    } seen;
    w.wizard.BannerURL = " https://www.velmora.example/ ";
    w.wizard.MailURL = "mailto:support@velmora.example";

    w.show([&](QWidget& window) {
        seen.pageOnOpen = shownPage(window);
        seen.title = window.windowTitle();
        seen.back = widget<QPushButton>(window, "cmdBack").text();
        seen.next = widget<QPushButton>(window, "cmdNext").text();
        seen.finishEnabled = widget<QPushButton>(window, "cmdFinish").isEnabled();

        auto& tree = widget<QTreeView>(window, "tvTree");
        auto& list = widget<QTreeView>(window, "lvList");
        seen.rootOpen = tree.isExpanded(tree.model()->index(0, 0));

        // A leaf loads its articles only after the delay.
        const QModelIndex leafA = firstLeaf(tree);
        clickIndex(tree, leafA);
        seen.listEmptyRightAfterClick = list.model()->rowCount() == 0;
        seen.listFilled = waitFor([&] { return list.model()->rowCount() > 0; });
        if (!seen.listFilled) return;
        seen.rowsA = list.model()->rowCount();
        seen.defaultWidth = list.header()->sectionSize(1);

        // Marks by check box; a check changes no row, so the list is not rebuilt for it.
        QSignalSpy resets(list.model(), &QAbstractItemModel::modelReset);
        clickCheckBox(list, list.model()->index(0, 0));
        seen.firstChecked = list.model()->index(0, 0).data(Qt::CheckStateRole) == Qt::Checked;

        // The user widens a column, then picks the next leaf: the width stays.
        list.header()->resizeSection(1, 211);
        tree.expandAll();
        QModelIndex leafB = tree.indexBelow(leafA);
        while (leafB.isValid() && tree.model()->hasChildren(leafB)) leafB = tree.indexBelow(leafB);
        if (!leafB.isValid()) return;
        QSignalSpy refilled(list.model(), &QAbstractItemModel::modelReset);
        clickIndex(tree, leafB);
        waitFor([&] { return refilled.count() > 0 && tree.isEnabled(); });
        seen.rowsB = list.model()->rowCount();
        seen.carriedWidth = list.header()->sectionSize(1);

        // Mark All from the list's menu.
        const int resetsBefore = static_cast<int>(resets.count());
        whenPopupMenu([](QMenu& menu) { clickMenuEntry(menu, "mnuLvSelectAll"); });
        clickIndex(list, list.model()->index(0, 1), Qt::RightButton);
        seen.allChecked = seen.rowsB > 0;
        for (int row = 0; row < seen.rowsB; ++row)
            seen.allChecked = seen.allChecked &&
                              list.model()->index(row, 0).data(Qt::CheckStateRole) == Qt::Checked;
        seen.resetsByChecks = static_cast<int>(resets.count()) - resetsBefore;

        // F1 from whichever control has the focus.
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus != nullptr ? focus : &window, Qt::Key_F1);

        // The banner and the mail label are links; they look like links too.
        auto& mail = widget<QLabel>(window, "lblMailToQuorvel");
        seen.mailLooksLikeALink = mail.cursor().shape() == Qt::PointingHandCursor &&
                                  mail.palette().color(QPalette::WindowText) == QColor(0, 0, 192);
        QTest::mouseClick(&widget<QLabel>(window, "Image1"), Qt::LeftButton);
        QTest::mouseClick(&mail, Qt::LeftButton);

        // Back to the field selection: first declined, then accepted.
        int answers = 0;
        w.ui.onMessageBox([&](QWidget& box) {
            auto& message = static_cast<QMessageBox&>(box);
            seen.loseText = message.text();
            seen.loseTitle = message.windowTitle();
            QTimer::singleShot(0, &message, [&message, accept = answers++ > 0] {
                message.button(accept ? QMessageBox::Ok : QMessageBox::Cancel)->click();
            });
        });
        QTest::mouseClick(&widget<QPushButton>(window, "cmdBack"), Qt::LeftButton);
        seen.pageAfterDecline = shownPage(window);
        QTest::mouseClick(&widget<QPushButton>(window, "cmdBack"), Qt::LeftButton);
        seen.pageAfterAccept = shownPage(window);
        w.ui.onMessageBox({});

        // One field fewer by double click, then Next builds the new tree.
        auto& selected = widget<QListWidget>(window, "lstSelected");
        seen.selectedBefore = selected.count();
        QListWidgetItem* first = selected.item(0);
        if (first == nullptr) return;
        // A double click is a click followed by the second press.
        const QPoint at = selected.visualItemRect(first).center();
        QTest::mouseClick(selected.viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(selected.viewport(), Qt::LeftButton, {}, at);
        seen.selectedAfterDoubleClick = selected.count();
        QTest::mouseClick(&widget<QPushButton>(window, "cmdNext"), Qt::LeftButton);

        // A new leaf, one article marked with the keyboard, then step 2.
        clickIndex(tree, firstLeaf(tree));
        waitFor([&] { return list.model()->rowCount() > 0; });
        list.setFocus();
        list.setCurrentIndex(list.model()->index(0, 0));
        QTest::keyClick(&list, Qt::Key_Space);
        QTest::mouseClick(&widget<QPushButton>(window, "cmdNext"), Qt::LeftButton);
        seen.countText = widget<QLabel>(window, "lblDownloadCount").text();
        seen.zeroLabelHidden = !shown(window, "lblDownloadCount0");

        // Finish: the progress bar is on screen while the loop runs.
        auto& progress = widget<QProgressBar>(window, "prgDownload");
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (progress.isVisibleTo(&window)) {
                seen.progressValue = progress.value();
                seen.progressMax = progress.maximum();
                if (auto& words = widget<QLabel>(window, "progressText");
                    words.isVisibleTo(&window))
                    seen.progressText = words.text();
            }
        });
        watch.start(0);
        QTest::mouseClick(&widget<QPushButton>(window, "cmdFinish"), Qt::LeftButton);
    });

    EXPECT_EQ(seen.pageOnOpen, 1);
    EXPECT_EQ(seen.title, "QUORVEL Data Service Client");
    EXPECT_EQ(seen.back, "C&onfiguration");  // a mnemonic Cancel does not use
    EXPECT_EQ(seen.next, "&Next");
    EXPECT_FALSE(seen.finishEnabled);
    EXPECT_TRUE(seen.rootOpen);
    EXPECT_TRUE(seen.listEmptyRightAfterClick);
    ASSERT_TRUE(seen.listFilled);
    EXPECT_EQ(seen.defaultWidth, 96);  // 1440 twips
    EXPECT_TRUE(seen.firstChecked);
    EXPECT_GT(seen.rowsB, 0);
    EXPECT_EQ(seen.carriedWidth, 211);
    EXPECT_TRUE(seen.allChecked);
    EXPECT_EQ(seen.resetsByChecks, 0);
    EXPECT_EQ(seen.loseText.toStdString(), w.wizard.lblLoseMsg.Caption);
    EXPECT_EQ(seen.loseTitle, "QUORVEL Data Service");
    EXPECT_EQ(seen.pageAfterDecline, 1);
    EXPECT_EQ(seen.pageAfterAccept, 0);
    EXPECT_EQ(seen.selectedAfterDoubleClick, seen.selectedBefore - 1);
    EXPECT_EQ(seen.countText, "You have selected 1 objects for download.");
    EXPECT_TRUE(seen.zeroLabelHidden);
    EXPECT_EQ(seen.progressValue, 1);
    EXPECT_EQ(seen.progressMax, 1);
    EXPECT_FALSE(w.wizard.isShown());
    EXPECT_TRUE(seen.mailLooksLikeALink);
    ASSERT_EQ(w.shell.calls().size(), 2u);
    EXPECT_EQ(w.shell.calls()[0].target, "https://www.velmora.example/");
    EXPECT_EQ(w.shell.calls()[1].target, "mailto:support@velmora.example");

    const std::vector<std::string>& lines = w.log.lines;
    auto count = [&](const std::string& line) {
        return std::count(lines.begin(), lines.end(), line);
    };
    EXPECT_EQ(count("Help"), 1);
    EXPECT_EQ(count("DebugInfo"), 3) << ::testing::PrintToString(lines);
    // Opening sends 0 and 1; the declined question nothing; then 0, 1 and 2.
    std::vector<std::string> steps;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(steps),
                 [](const std::string& line) { return line.starts_with("NewStepNum"); });
    EXPECT_EQ(steps, (std::vector<std::string>{"NewStepNum 0", "NewStepNum 1", "NewStepNum 0",
                                               "NewStepNum 1", "NewStepNum 2"}));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "DownloadStructure");
    EXPECT_TRUE(lines[lines.size() - 2].starts_with("DownloadItem "));
    EXPECT_EQ(lines.back(), "Finish");
    // The words under the bar name the article being fetched.
    EXPECT_EQ(seen.progressText.toStdString(),
              "Article 1 of 1: " + lines[lines.size() - 2].substr(std::size("DownloadItem ") - 1));
}

TEST_F(WizardViewTest, AKeyboardAloneChoosesALeafMarksAnArticleAndMovesOn) {
    WizardWindow w(service(), 1033);
    bool leafReached = false, listFilled = false, treeKeptFocus = false, marked = false;
    int page = -1;
    QString count;
    w.show([&](QWidget& window) {
        auto& tree = widget<QTreeView>(window, "tvTree");
        auto& list = widget<QTreeView>(window, "lvList");
        tree.setFocus();
        // Down the tree, opening branches with Right, until a leaf is chosen.
        QTest::keyClick(&tree, Qt::Key_Home);
        for (int i = 0; i < 20 && tree.model()->rowCount(tree.currentIndex()) > 0; ++i) {
            QTest::keyClick(&tree, Qt::Key_Right);
            QTest::keyClick(&tree, Qt::Key_Down);
        }
        leafReached =
            tree.currentIndex().isValid() && tree.model()->rowCount(tree.currentIndex()) == 0;
        listFilled = waitFor([&] { return list.model()->rowCount() > 0 && tree.isEnabled(); });
        treeKeptFocus = tree.hasFocus();

        QTest::keyClick(&tree, Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        marked =
            list.hasFocus() && list.model()->index(0, 0).data(Qt::CheckStateRole) == Qt::Checked;

        QTest::keyClick(&window, Qt::Key_N, Qt::AltModifier);
        waitFor([&] { return shownPage(window) == 2; }, 2000);
        page = shownPage(window);
        count = widget<QLabel>(window, "lblDownloadCount").text();
        // Escape closes the window as its frame does: without a word to the owner.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    });
    EXPECT_TRUE(leafReached);
    EXPECT_TRUE(listFilled);
    EXPECT_TRUE(treeKeptFocus);
    EXPECT_TRUE(marked);
    EXPECT_EQ(page, 2);
    EXPECT_EQ(count, "You have selected 1 objects for download.");
    EXPECT_FALSE(w.wizard.isShown());
    EXPECT_EQ(w.log.lines.back(), "NewStepNum 2");

    // Shown again, the dialog is a new one: on the tree, nothing marked, nothing to lose.
    w.log.lines.clear();
    int boxes = 0;
    w.ui.onMessageBox([&](QWidget& box) {
        ++boxes;
        QTimer::singleShot(0, &box, [&box] { static_cast<QMessageBox&>(box).reject(); });
    });
    int pageAgain = -1;
    int rowsAgain = -1;
    w.show([&](QWidget& window) {
        pageAgain = shownPage(window);
        rowsAgain = widget<QTreeView>(window, "lvList").model()->rowCount();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    });
    w.ui.onMessageBox({});
    EXPECT_EQ(boxes, 0);
    EXPECT_EQ(pageAgain, 1);
    EXPECT_EQ(rowsAgain, 0);
    EXPECT_FALSE(w.wizard.DownloadItems);
    EXPECT_EQ(w.log.lines, (std::vector<std::string>{"NewStepNum 0", "NewStepNum 1"}));
}

TEST_F(WizardViewTest, AFailedDownloadLeavesTheWindowUsableWithTheFocusOnFinish) {
    WizardWindow w(service(), 1033);
    w.log.onDownloadItem = [](const std::string&) {
        throw Error(5003, "The service did not answer in time");
    };
    QString failure;
    bool stillOpen = false, finishFocused = false, finishEnabled = false, barHidden = false;
    w.show([&](QWidget& window) {
        auto& tree = widget<QTreeView>(window, "tvTree");
        auto& list = widget<QTreeView>(window, "lvList");
        clickIndex(tree, firstLeaf(tree));
        waitFor([&] { return list.model()->rowCount() > 0; });
        clickCheckBox(list, list.model()->index(0, 0));
        QTest::mouseClick(&widget<QPushButton>(window, "cmdNext"), Qt::LeftButton);

        w.ui.onMessageBox([&](QWidget& box) {
            failure = static_cast<QMessageBox&>(box).text();
            QTimer::singleShot(0, &box, [&box] {
                static_cast<QMessageBox&>(box).button(QMessageBox::Ok)->click();
            });
        });
        auto& finish = widget<QPushButton>(window, "cmdFinish");
        finish.setFocus();
        QTest::keyClick(&finish, Qt::Key_Space);
        w.ui.onMessageBox({});
        stillOpen = window.isVisible();
        // The control that has the keyboard once the window is active again.
        finishFocused = window.focusWidget() == &finish;
        finishEnabled = finish.isEnabled();
        barHidden = !widget<QWidget>(window, "prgDownload").isVisible();
        QTest::mouseClick(&widget<QPushButton>(window, "cmdCancel"), Qt::LeftButton);
    });
    EXPECT_EQ(failure, "The service did not answer in time");
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(finishEnabled);
    EXPECT_TRUE(finishFocused);
    EXPECT_TRUE(barHidden);
    EXPECT_FALSE(w.wizard.isShown());
    EXPECT_EQ(w.log.lines.back(), "Cancel");
}

TEST_F(WizardViewTest, ALeafChosenRightBeforeClosingLoadsNothingAfterwards) {
    WizardWindow w(service(), 1033);
    w.show([&](QWidget& window) {
        auto& tree = widget<QTreeView>(window, "tvTree");
        clickIndex(tree, firstLeaf(tree));
        QTest::mouseClick(&widget<QPushButton>(window, "cmdCancel"), Qt::LeftButton);
    });
    QTest::qWait(700);
    EXPECT_EQ(w.log.lines.back(), "Cancel") << ::testing::PrintToString(w.log.lines);
    EXPECT_FALSE(w.wizard.timTree().isActive());
}

TEST(TwipsScale, FifteenTwipsAPixelAt96DpiAndProportionallyAbove) {
    struct Case {
        double dpi;
        double twips;
        int pixels;
    };
    for (const Case c : {Case{96, 15, 1}, Case{96, 1440, 96}, Case{96, 11400, 760},
                         Case{144, 1440, 144}, Case{192, 375, 50}, Case{0, 1440, 96}}) {
        const TwipsScale scale(c.dpi);
        EXPECT_EQ(scale.toPixels(c.twips), c.pixels) << c.dpi << " dpi, " << c.twips;
        EXPECT_NEAR(scale.toTwips(c.pixels), c.twips, 1440 / (c.dpi > 0 ? c.dpi : 96))
            << c.dpi << " dpi, " << c.pixels;
    }
}

// A stopped download continued in the window: it opens on step 2 and downloads at once;
// Cancel reads Stop, and Escape asks whether to stop, in the user's language. OK stops after
// the article being fetched. The question about continuing is asked in the same language.
TEST_F(WizardViewTest, AContinuedDownloadStopsOnEscapeAfterAskingInTheUsersLanguage) {
    struct Case {
        int16_t language;
        QString stop, question, continueQuestion;
    };
    for (const Case& c :
         {Case{1033, "&Stop",
               "Stop the download? The 2 articles saved so far are kept, and you can continue "
               "the download later.",
               "The last download stopped after 3 of 10 articles. Continue it?"},
          Case{1031, "&Anhalten",
               "Den Download anhalten? Die 2 bisher gespeicherten Artikel bleiben erhalten, und "
               "Sie k\u00f6nnen den Download sp\u00e4ter fortsetzen.",
               "Der letzte Download wurde nach 3 von 10 Artikeln angehalten. Fortsetzen?"}}) {
        SCOPED_TRACE(c.language);
        WizardWindow w(service(), c.language);
        w.wizard.ContinueRun = DownloadRun{{"A1", "A2", "A3", "A4"}, 1, false};
        QString stopCaption, question;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        int pageOnOpen = -1;
        w.log.onDownloadItem = [&](const std::string&) {
            QWidget* window = QApplication::activeModalWidget();
            pageOnOpen = shownPage(*window);
            stopCaption = widget<QPushButton>(*window, "cmdCancel").text();
            test::whenMessageBox([&](QMessageBox& box) {
                question = box.text();
                defaultButton = box.standardButton(box.defaultButton());
                box.button(QMessageBox::Ok)->click();
            });
            // Pressed while the article is fetched: seen between two articles.
            QTimer::singleShot(0, window, [window] { QTest::keyClick(window, Qt::Key_Escape); });
        };
        // The download runs as soon as the window is on screen, and closes it when it ends.
        w.ui.showModal(w.wizard);
        EXPECT_EQ(pageOnOpen, 2);
        EXPECT_EQ(stopCaption, c.stop);
        EXPECT_EQ(question, c.question);
        EXPECT_EQ(defaultButton, QMessageBox::Cancel);
        EXPECT_EQ(w.log.lines,
                  (std::vector<std::string>{"NewStepNum 2", "DownloadItem A2", "Cancel"}));

        QString asked;
        test::whenMessageBox([&](QMessageBox& box) {
            asked = box.text();
            box.button(QMessageBox::No)->click();
        });
        EXPECT_FALSE(w.wizard.AskContinue(3, 10));
        EXPECT_EQ(asked, c.continueQuestion);
    }
}

// A catalogue of the sizes users have: the window keeps turning its event loop through the long
// work, tells what it loads once the work takes a while, and names the article that Finish
// fetches with the time left. The figures (the longest wait of the loop) are printed; the
// benchmark holds them to their target.
TEST(WizardViewLargeCatalogue, TheWindowKeepsPaintingAndSaysWhatItDoes) {
    // A service that takes its time to answer, as a busy one does.
    const test::RefService service(
        {"--tree-shape", "10x100x100", "--leaf-rows", "100000", "--latency-ms", "600"});
    WizardWindow w(service, 1033);
    // The user's own articles take a while each.
    w.log.onDownloadItem = [](const std::string&) { QTest::qWait(300); };
    struct Row {
        std::string action;
        test::LoopTurns turns;
        QString said;
    };
    std::vector<Row> rows;
    QString progress;
    w.show([&](QWidget& window) {
        auto& tree = widget<QTreeView>(window, "tvTree");
        auto& list = widget<QTreeView>(window, "lvList");
        auto& busy = widget<QLabel>(window, "busyText");
        auto& words = widget<QLabel>(window, "progressText");
        QString said;
        const auto listen = [&] {
            if (busy.isVisible()) said = busy.text();
        };
        const auto folder = test::screenshotFolder();
        bool busyPictureTaken = false;
        const auto keepBusyPicture = [&] {
            listen();
            // Half way through the rows, the picture shows a count that says something.
            if (busyPictureTaken || w.wizard.ArticlesRead < 50000) return;
            busyPictureTaken = window.grab().save(
                QString::fromStdString((folder / "wizard-busy-en.png").string()));
        };

        const auto measure = [&](std::string action, const std::function<void()>& act,
                                 const std::function<bool()>& done,
                                 const std::function<void()>& eachTurn) {
            said.clear();
            const test::LoopTurns turns = test::watchLoop(act, done, eachTurn);
            rows.push_back(Row{std::move(action), turns, said});
        };
        measure(
            "a leaf of 100,000 articles", [&] { clickIndex(tree, firstLeaf(tree)); },
            [&] { return list.model()->rowCount() > 0 && tree.isEnabled(); }, keepBusyPicture);
        measure(
            "Configuration, then Next: a tree of 101,111 nodes",
            [&] {
                QTest::mouseClick(&widget<QPushButton>(window, "cmdBack"), Qt::LeftButton);
                QTest::mouseClick(&widget<QPushButton>(window, "cmdNext"), Qt::LeftButton);
            },
            [&] { return tree.model()->rowCount() > 0 && shownPage(window) == 1; }, listen);

        // Three articles marked, and Finish.
        clickIndex(tree, firstLeaf(tree));
        waitFor([&] { return list.model()->rowCount() > 0 && tree.isEnabled(); });
        for (int row = 0; row < 3; ++row) clickCheckBox(list, list.model()->index(row, 0));
        QTest::mouseClick(&widget<QPushButton>(window, "cmdNext"), Qt::LeftButton);
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!words.isVisible()) return;
            progress = words.text();
            if (progress.startsWith(QLatin1String("Article 3 of 3")))
                window.grab().save(
                    QString::fromStdString((folder / "wizard-progress-en.png").string()));
        });
        watch.start(0);
        QTest::mouseClick(&widget<QPushButton>(window, "cmdFinish"), Qt::LeftButton);
    });

    for (const Row& row : rows) {
        std::printf("%-50s %5lld ms in all, longest wait of the loop %4lld ms, %5d turns\n",
                    row.action.c_str(), row.turns.totalMs, row.turns.longestMs, row.turns.turns);
        SCOPED_TRACE(row.action);
        // Never frozen for the length of the work: the loop turned all along.
        EXPECT_GT(row.turns.turns, 5);
        EXPECT_LT(row.turns.longestMs * 2, row.turns.totalMs);
    }
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^Loading (\\d{1,3}(,\\d{3})* articles )?\u2026$"))
            .match(rows[0].said)
            .hasMatch())
        << rows[0].said.toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Loading (\\d{1,3}(,\\d{3})* nodes )?\u2026$"))
                    .match(rows[1].said)
                    .hasMatch())
        << rows[1].said.toStdString();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^Article 3 of 3: \\S+  \u2013  About \\d+ s left$"))
            .match(progress)
            .hasMatch())
        << progress.toStdString();
    EXPECT_EQ(w.log.lines.back(), "Finish");
}

}  // namespace
}  // namespace ovk
