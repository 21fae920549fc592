// The wizard as a screen reader and a keyboard-only user meet it: every control named in the
// wizard's language, links that act from the keyboard, steps that announce themselves, selected
// rows that read well, a window that fits the screen, and a download from the keys alone.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>

#include "component/client_impl.hpp"
#include "ovk/client.hpp"
#include "qt/desktop_client_services.hpp"
#include "qt/readable_palette.hpp"
#include "wizard_window.hpp"

namespace ovk {
namespace {

using test::firstLeaf;
using test::waitFor;
using test::whenPopupMenu;
using test::widget;
using test::WizardWindow;

class WizardAccessibilityTest : public test::SharedRefServiceTest {};

// What a screen reader says of a control: nothing usable when it is empty or punctuation.
bool usable(const QString& name) {
    static const QRegularExpression letter(QStringLiteral("\\w"));
    return name.contains(letter);
}

// Every control a screen reader offers to act on, below `iface`, with the name it hears; the
// rows and cells of lists and trees say their own texts and are left out.
void interactive(QAccessibleInterface* iface, std::vector<QAccessibleInterface*>& found) {
    const QAccessible::State state = iface->state();
    if (state.invisible) return;
    if (state.focusable) found.push_back(iface);
    switch (iface->role()) {
        case QAccessible::List:
        case QAccessible::Tree:
        case QAccessible::Table:
        case QAccessible::ProgressBar:
            return;
        default:
            break;
    }
    for (int i = 0; i < iface->childCount(); ++i)
        if (QAccessibleInterface* child = iface->child(i)) interactive(child, found);
}

std::vector<std::string> unnamed(QWidget& window) {
    std::vector<QAccessibleInterface*> found;
    interactive(QAccessible::queryAccessibleInterface(&window), found);
    std::vector<std::string> faults;
    for (QAccessibleInterface* iface : found)
        if (!usable(iface->text(QAccessible::Name)))
            faults.push_back(iface->object()->objectName().toStdString() + " " +
                             std::to_string(iface->role()) + " " +
                             iface->object()->metaObject()->className() + " \"" +
                             iface->text(QAccessible::Name).toStdString() + "\"");
    return faults;
}

QString nameOf(QWidget& window, const char* control) {
    return QAccessible::queryAccessibleInterface(&widget<QWidget>(window, control))
        ->text(QAccessible::Name);
}

TEST_F(WizardAccessibilityTest, AScreenReaderHearsEveryControlOfEveryStepInTheWizardsLanguage) {
    struct Case {
        int16_t language;
        const char* addField;
        const char* allElements;
        const char* progress;
        const char* banner;
        const char* tree;
        const char* step1;
        const char* step2;
        const char* step0;
    };
    for (const Case c :
         {Case{1033, "Add field", "All Elements", "Download progress",
               "Open the provider's web page", "Structure",
               "Step 2 of 3: Please select the elements to be loaded.",
               "Step 3 of 3: Ready for Download. You have selected 1 objects for "
               "download. Click on 'Finish' to copy the marked objects on your PC.",
               "Step 1 of 3: Please select the data fields here that correspond to "
               "the search criteria. In the next step, these fields will be "
               "displayed as tree structure."},
          Case{1031, "Feld hinzuf\u00fcgen", "Alle Elemente", "Downloadfortschritt",
               "Webseite des Anbieters \u00f6ffnen", "Struktur",
               "Schritt 2 von 3: Bitte w\u00e4hlen Sie die zu ladenden Elemente aus.",
               "Schritt 3 von 3: Bereit zum Download. Sie haben 1 Objekte f\u00fcr "
               "den Download ausgew\u00e4hlt. Klicken Sie auf 'Fertig stellen', "
               "um die markierten Objekte auf Ihren PC zu kopieren.",
               "Schritt 1 von 3: Bitte w\u00e4hlen Sie hier die Datenfelder, die "
               "den Suchkriterien entsprechen. Im n\u00e4chsten Schritt werden "
               "diese Felder als Baumstruktur angezeigt."}}) {
        SCOPED_TRACE(c.language);
        WizardWindow w(service(), c.language);
        w.wizard.BannerURL = "https://www.velmora.example/";
        w.wizard.MailURL = "mailto:support@velmora.example";
        // What a screen reader reads when the dialog's description changes, on each step.
        std::vector<std::string> said;
        std::map<int, std::vector<std::string>> faults;
        QString addField, allElements, progress, banner, treeHeader;
        bool linksAct = true, cellsCheckable = false;
        w.show([&](QWidget& window) {
            auto& tree = widget<QTreeView>(window, "tvTree");
            auto& list = widget<QTreeView>(window, "lvList");
            tree.setCurrentIndex(firstLeaf(tree));
            waitFor([&] { return list.model()->rowCount() > 0 && tree.isEnabled(); });
            said.push_back(window.accessibleDescription().toStdString());
            faults[1] = unnamed(window);
            QAccessibleInterface* table = QAccessible::queryAccessibleInterface(&list);
            for (int i = 0; i < table->childCount(); ++i)
                if (QAccessibleInterface* cell = table->child(i);
                    cell->role() != QAccessible::ColumnHeader) {
                    cellsCheckable = cell->state().checkable &&
                                     cell->actionInterface() != nullptr &&
                                     cell->actionInterface()->actionNames().contains(
                                         QAccessibleActionInterface::toggleAction());
                    break;
                }
            treeHeader =
                QAccessible::queryAccessibleInterface(&tree)->child(0)->text(QAccessible::Name);
            banner = nameOf(window, "Image1");
            for (const char* link : {"Image1", "lblMailToQuorvel"}) {
                QAccessibleInterface* iface =
                    QAccessible::queryAccessibleInterface(&widget<QWidget>(window, link));
                linksAct = linksAct && iface->role() == QAccessible::Link &&
                           iface->state().focusable && iface->actionInterface() != nullptr;
                if (linksAct)
                    iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            }
            progress = nameOf(window, "prgDownload");

            // One row marked, then on to step 2.
            test::clickCheckBox(list, list.model()->index(0, 0));
            QTest::mouseClick(&widget<QPushButton>(window, "cmdNext"), Qt::LeftButton);
            said.push_back(window.accessibleDescription().toStdString());
            faults[2] = unnamed(window);

            w.ui.onMessageBox([](QWidget& box) {
                QTimer::singleShot(0, &box, [&box] {
                    static_cast<QMessageBox&>(box).button(QMessageBox::Ok)->click();
                });
            });
            QTest::mouseClick(&widget<QPushButton>(window, "cmdBack"), Qt::LeftButton);
            QTest::mouseClick(&widget<QPushButton>(window, "cmdBack"), Qt::LeftButton);
            w.ui.onMessageBox({});
            said.push_back(window.accessibleDescription().toStdString());
            faults[0] = unnamed(window);
            addField = nameOf(window, "cmdRightOne");
            allElements = nameOf(window, "lstAll");
            window.close();
        });

        for (const auto& [step, found] : faults)
            EXPECT_TRUE(found.empty())
                << "step " << step << ": " << ::testing::PrintToString(found);
        EXPECT_EQ(addField.toStdString(), c.addField);
        EXPECT_EQ(allElements.toStdString(), c.allElements);
        EXPECT_EQ(progress.toStdString(), c.progress);
        EXPECT_EQ(banner.toStdString(), c.banner);
        EXPECT_EQ(treeHeader.toStdString(), c.tree);
        EXPECT_TRUE(cellsCheckable);
        EXPECT_TRUE(linksAct);
        ASSERT_EQ(w.shell.calls().size(), 2u);
        EXPECT_EQ(w.shell.calls()[1].target, "mailto:support@velmora.example");
        EXPECT_EQ(said, (std::vector<std::string>{c.step1, c.step2, c.step0}));
    }
}

TEST(ReadablePalette, SelectedRowsReadAtFourAndAHalfToOneInAnyPalette) {
    struct Case {
        QColor text, highlight;
        double before;
    };
    for (const Case c : {// The Fusion style's selection, which fails the mark.
                         Case{Qt::white, QColor(0x30, 0x8C, 0xC6), 3.69},
                         // A user's palette that already reads well stays as it is.
                         Case{Qt::white, QColor(0, 0, 128), 16.0},
                         // Dark text on a dark selection: the selection lightens.
                         Case{Qt::black, QColor(0x30, 0x30, 0x60), 1.72},
                         // White on white.
                         Case{Qt::white, Qt::white, 1.0}}) {
        QPalette palette;
        palette.setColor(QPalette::HighlightedText, c.text);
        palette.setColor(QPalette::Highlight, c.highlight);
        const std::string name = c.highlight.name().toStdString();
        EXPECT_NEAR(contrastRatio(c.text, c.highlight), c.before, 0.1) << name;
        const QPalette readable = withReadableSelection(palette);
        for (const auto group : {QPalette::Active, QPalette::Inactive}) {
            const QColor shown = readable.color(group, QPalette::Highlight);
            EXPECT_GE(contrastRatio(c.text, shown), 4.5) << name;
            if (c.before >= 4.5) {
                EXPECT_EQ(shown, c.highlight) << name;
            }
            if (c.highlight.hsvSaturation() > 0) {
                EXPECT_NEAR(shown.hslHue(), c.highlight.hslHue(), 2) << name;
            }
        }
    }
}

// At twice the scale the window is larger than the screen: it stays on screen and scrolls, and
// the keyboard still reaches Finish. Run once more with QT_SCALE_FACTOR=2 by CTest.
TEST_F(WizardAccessibilityTest, TheWindowFitsTheScreenAtAnyScaleAndScrollsToTheFocus) {
    WizardWindow w(service(), 1033);
    QSize window, available;
    bool cancelSeen = false;
    w.show([&](QWidget& wizard) {
        window = wizard.frameGeometry().size();
        available = wizard.screen()->availableGeometry().size();
        auto& cancel = widget<QPushButton>(wizard, "cmdCancel");
        cancel.setFocus();
        auto& scroll = *wizard.findChild<QScrollArea*>();
        scroll.ensureWidgetVisible(&cancel);
        const QRect shown(cancel.mapTo(scroll.viewport(), QPoint(0, 0)), cancel.size());
        cancelSeen = scroll.viewport()->rect().contains(shown);
        QTest::keyClick(&cancel, Qt::Key_Space);
    });
    EXPECT_LE(window.width(), available.width());
    EXPECT_LE(window.height(), available.height());
    EXPECT_TRUE(cancelSeen);
    EXPECT_EQ(w.log.lines.back(), "Cancel");
}

// A user who works by keyboard alone, through the whole component: the fields, a leaf, the
// marks from the list's menu, Next and Finish, to the host's DownloadComplete.
TEST(KeyboardOnly, TheWholeWizardFromTheKeysEndsInDownloadComplete) {
    ensureApplication();
    const test::ComponentFolder folder;
    const test::TempDir settings;
    const test::TempDir work;
    const test::RefService service;
    Client client(std::make_unique<Client::Impl>(
        std::make_shared<const ClientServices>(desktopClientServices(settings.path()))));
    struct Events : ClientEvents {
        std::vector<std::string> log;
        void DownloadComplete() override { log.emplace_back("DownloadComplete"); }
        void DownloadCancel() override { log.emplace_back("DownloadCancel"); }
        // Number 0 is the wizard's trace of each article list, not a failure.
        void Exception(int32_t number, const std::string& message, const std::string&) override {
            if (number != 0) log.push_back("Exception " + message);
        }
    } events;
    client.setEvents(&events);
    const auto document = work.write(
        "download.xml", test::downloadDocument("TARVO", "<URL>" + service.url() +
                                                            "</URL><ProjectID>DEMO</ProjectID>"
                                                            "<Language>English</Language>"
                                                            "<Password>demo</Password>"));
    ASSERT_EQ(client.Init(document.string()), 0);

    std::vector<std::string> missed;
    int rows = 0;
    QString menuName, firstEntry, count;
    bool allMarked = false;
    test::whenDialog("frmWiz", [&](QWidget& window) {
        // Offscreen, the wizard over the splash never becomes the active window; its own
        // focus widget is where a desktop would send the keys.
        auto press = [&window](Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
            QWidget* focus = window.focusWidget();
            QTest::keyClick(focus != nullptr ? focus : &window, key, modifiers);
        };
        // Tab until the control has the keyboard, as a user does.
        auto reach = [&](const char* name) {
            for (int i = 0; i < 40; ++i) {
                QWidget* focus = window.focusWidget();
                if (focus != nullptr && focus->objectName() == QLatin1String(name)) return;
                press(Qt::Key_Tab);
            }
            missed.emplace_back(name);
        };
        auto& list = widget<QTreeView>(window, "lvList");

        // To the fields: one taken out and put back, then the tree is built again.
        reach("cmdBack");
        press(Qt::Key_Space);
        reach("lstSelected");
        press(Qt::Key_End);
        reach("cmdLeftOne");
        press(Qt::Key_Space);
        reach("lstAll");
        press(Qt::Key_End);
        reach("cmdRightOne");
        press(Qt::Key_Space);
        reach("cmdNext");
        press(Qt::Key_Space);

        // Down the tree to a leaf.
        reach("tvTree");
        auto& tree = widget<QTreeView>(window, "tvTree");
        press(Qt::Key_Home);
        for (int i = 0; i < 20 && tree.model()->rowCount(tree.currentIndex()) > 0; ++i) {
            press(Qt::Key_Right);
            press(Qt::Key_Down);
        }
        waitFor([&] { return list.model()->rowCount() > 0 && tree.isEnabled(); });
        rows = list.model()->rowCount();

        // Mark All from the menu key, Reset Marking from Shift+F10, then Space marks one row.
        reach("lvList");
        press(Qt::Key_Home);
        whenPopupMenu([&](QMenu& menu) {
            menuName = menu.accessibleName();
            waitFor([&] { return menu.activeAction() != nullptr; }, 2000);
            firstEntry = menu.activeAction() != nullptr ? menu.activeAction()->objectName() : "";
            QTest::keyClick(&menu, Qt::Key_Return);
        });
        press(Qt::Key_Menu);
        allMarked = rows > 0;
        for (int row = 0; row < rows; ++row)
            allMarked =
                allMarked && list.model()->index(row, 0).data(Qt::CheckStateRole) == Qt::Checked;
        whenPopupMenu([](QMenu& menu) {
            waitFor([&] { return menu.activeAction() != nullptr; }, 2000);
            QTest::keyClick(&menu, Qt::Key_Down);
            QTest::keyClick(&menu, Qt::Key_Return);
        });
        press(Qt::Key_F10, Qt::ShiftModifier);
        press(Qt::Key_Space);

        reach("cmdNext");
        press(Qt::Key_Space);
        count = widget<QLabel>(window, "lblDownloadCount").text();
        reach("cmdFinish");
        press(Qt::Key_Space);
        // A wizard still open here would wait for a user who is not there.
        if (window.isVisible()) {
            ADD_FAILURE() << "Finish left the wizard open";
            window.close();
        }
    });
    client.Show();
    EXPECT_TRUE(missed.empty()) << ::testing::PrintToString(missed);
    EXPECT_EQ(menuName, "List Options");
    EXPECT_EQ(firstEntry, "mnuLvSelectAll");
    ASSERT_GT(rows, 0);
    EXPECT_TRUE(allMarked);
    EXPECT_EQ(count, "You have selected 1 objects for download.");
    EXPECT_EQ(events.log, std::vector<std::string>{"DownloadComplete"});
}

}  // namespace
}  // namespace ovk
