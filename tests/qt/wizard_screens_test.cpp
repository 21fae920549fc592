// SPDX-License-Identifier: MIT
// Every step of the wizard window in English and German: the captions of the language, every
// control inside the window, every text fitting its label, and every control named for a screen
// reader, which walks the window through Qt's accessibility interfaces. The pictures of the steps
// are kept (screenshot_folder.hpp); the README shows them as such a run took them.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <cstdlib>
#include <filesystem>

#include "screenshot_folder.hpp"
#include "wizard_window.hpp"

namespace ovk {
namespace {

using test::clickCheckBox;
using test::clickIndex;
using test::firstLeaf;
using test::waitFor;
using test::widget;
using test::WizardWindow;

class WizardScreensTest : public test::SharedRefServiceTest {};

// What is wrong with the step on screen: controls reaching out of the window or out of their
// page, and texts that do not fit their label.
std::vector<std::string> layoutFaults(QWidget& window) {
    std::vector<std::string> faults;
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (!child->isVisibleTo(&window) || child->objectName().isEmpty() ||
            child->objectName().startsWith(QLatin1String("qt_")))
            continue;
        const QWidget* parent = child->parentWidget();
        if (!parent->rect().contains(child->geometry()))
            faults.push_back(child->objectName().toStdString() + " outside " +
                             parent->objectName().toStdString());
        if (const auto* label = qobject_cast<QLabel*>(child);
            label != nullptr && label->pixmap().isNull() && !label->text().isEmpty()) {
            const int needed = label->wordWrap() ? label->heightForWidth(label->width())
                                                 : label->sizeHint().height();
            if (needed > label->height() ||
                (!label->wordWrap() && label->sizeHint().width() > label->width()))
                faults.push_back(label->objectName().toStdString() + " cut off");
        }
    }
    return faults;
}

// What a screen reader cannot name: focusable controls without a word in their name, and links
// that cannot be pressed; and disabled controls it would offer as focusable. Rows and cells say
// their own texts.
void unnamedControls(QAccessibleInterface* iface, std::vector<std::string>& faults) {
    if (iface->state().invisible) return;
    const QString name = iface->text(QAccessible::Name);
    if (iface->state().focusable && !name.contains(QRegularExpression(QStringLiteral("\\w"))))
        faults.push_back(iface->object()->objectName().toStdString() + " unnamed");
    if (iface->state().focusable && iface->state().disabled)
        faults.push_back(iface->object()->objectName().toStdString() +
                         " focusable though disabled");
    if (iface->role() == QAccessible::Link && !iface->actionInterface()->actionNames().contains(
                                                  QAccessibleActionInterface::pressAction()))
        faults.push_back(name.toStdString() + " cannot be pressed");
    const QAccessible::Role role = iface->role();
    if (role == QAccessible::List || role == QAccessible::Tree || role == QAccessible::Table)
        return;
    for (int i = 0; i < iface->childCount(); ++i) unnamedControls(iface->child(i), faults);
}

std::vector<std::string> layoutAndNameFaults(QWidget& window) {
    std::vector<std::string> faults = layoutFaults(window);
    unnamedControls(QAccessible::queryAccessibleInterface(&window), faults);
    return faults;
}

QString accessibleName(QWidget& window, const char* control) {
    return QAccessible::queryAccessibleInterface(&widget<QWidget>(window, control))
        ->text(QAccessible::Name);
}

void keepPicture(QWidget& window, const std::string& name) {
    const std::filesystem::path folder = test::screenshotFolder();
    const QImage picture = window.grab().toImage();
    EXPECT_EQ(picture.size(), QSize(760, 544)) << name;
    EXPECT_TRUE(picture.save(QString::fromStdString((folder / name).string()), "PNG")) << name;
    EXPECT_GT(std::filesystem::file_size(folder / name), 1000u) << name;
}

TEST_F(WizardScreensTest, EveryStepInEnglishAndGermanFitsItsWindow) {
    struct Case {
        int16_t language;
        const char* next;
        Qt::Key mnemonic;
        const char* config;
        const char* count;
        const char* addField;  // what a screen reader says for ">"
        const char* step2;     // and reads on entering step 2
    };
    for (const Case c :
         {Case{1033, "&Next", Qt::Key_N, "C&onfiguration",
               "You have selected 1 objects for download.", "Add field",
               "Step 3 of 3: Ready for Download. You have selected 1 objects for download. Click "
               "on 'Finish' to copy the marked objects on your PC."},
          Case{1031, "&Weiter", Qt::Key_W, "&Konfiguration",
               "Sie haben 1 Objekte f\u00fcr den Download ausgew\u00e4hlt.", "Feld hinzuf\u00fcgen",
               "Schritt 3 von 3: Bereit zum Download. Sie haben 1 Objekte f\u00fcr den Download "
               "ausgew\u00e4hlt. Klicken Sie auf 'Fertig stellen', um die markierten Objekte auf "
               "Ihren PC zu kopieren."}}) {
        SCOPED_TRACE(c.language);
        WizardWindow w(service(), c.language);
        // German with the service's banner beside the document, English with the design one.
        if (c.language == 1031)
            std::filesystem::copy_file(OVK_EXAMPLES_DIR "/catalog/banner.jpg",
                                       w.work.path() / "Banner1.jpg");
        const std::string tag = c.language == 1031 ? "de" : "en";
        std::map<int, std::vector<std::string>> faults;
        QString next, config, count, addField, step2, allElements, treeHeader;
        bool checkable = false;
        QSize size;
        w.show([&](QWidget& window) {
            size = window.size();
            auto& tree = widget<QTreeView>(window, "tvTree");
            auto& list = widget<QTreeView>(window, "lvList");
            clickIndex(tree, firstLeaf(tree));
            waitFor([&] { return list.model()->rowCount() > 0; });
            clickCheckBox(list, list.model()->index(0, 0));
            next = widget<QPushButton>(window, "cmdNext").text();
            config = widget<QPushButton>(window, "cmdBack").text();
            faults[1] = layoutAndNameFaults(window);
            // The check cells, and the tree's hidden header, which a screen reader still reads.
            const QAccessibleInterface* cell =
                QAccessible::queryAccessibleInterface(&list)->tableInterface()->cellAt(0, 0);
            checkable = cell != nullptr && cell->state().checkable;
            treeHeader =
                QAccessible::queryAccessibleInterface(&tree)->child(0)->text(QAccessible::Name);
            keepPicture(window, "wizard-step1-" + tag + ".png");

            // Next through its mnemonic, which the language gives.
            // A mnemonic presses its button the way a click does, a moment later.
            QTest::keyClick(&window, c.mnemonic, Qt::AltModifier);
            waitFor([&] { return widget<QWidget>(window, "picStep(2)").isVisible(); }, 2000);
            count = widget<QLabel>(window, "lblDownloadCount").text();
            faults[2] = layoutAndNameFaults(window);
            step2 = window.accessibleDescription();
            keepPicture(window, "wizard-step2-" + tag + ".png");

            // Two steps back; the marks are lost on the way, which the user accepts.
            w.ui.onMessageBox([](QWidget& box) {
                QTimer::singleShot(0, &box, [&box] {
                    static_cast<QMessageBox&>(box).button(QMessageBox::Ok)->click();
                });
            });
            QTest::mouseClick(&widget<QPushButton>(window, "cmdBack"), Qt::LeftButton);
            QTest::mouseClick(&widget<QPushButton>(window, "cmdBack"), Qt::LeftButton);
            w.ui.onMessageBox({});
            faults[0] = layoutAndNameFaults(window);
            addField = accessibleName(window, "cmdRightOne");
            allElements = accessibleName(window, "lstAll");
            keepPicture(window, "wizard-step0-" + tag + ".png");

            // Cancel on step 0 returns to the tree; there it closes the window.
            QTest::mouseClick(&widget<QPushButton>(window, "cmdCancel"), Qt::LeftButton);
            QTest::mouseClick(&widget<QPushButton>(window, "cmdCancel"), Qt::LeftButton);
        });
        EXPECT_EQ(size, QSize(760, 544));  // 11400 by 8160 twips at 96 dpi
        EXPECT_EQ(next.toStdString(), c.next);
        EXPECT_EQ(config.toStdString(), c.config);
        EXPECT_EQ(count.toStdString(), c.count);
        EXPECT_EQ(addField.toStdString(), c.addField);
        EXPECT_EQ(step2.toStdString(), c.step2);
        EXPECT_EQ(allElements, c.language == 1031 ? "Alle Elemente" : "All Elements");
        EXPECT_EQ(treeHeader, c.language == 1031 ? "Struktur" : "Structure");
        EXPECT_TRUE(checkable);
        for (const auto& [step, found] : faults)
            EXPECT_TRUE(found.empty())
                << "step " << step << ": " << ::testing::PrintToString(found);
        EXPECT_FALSE(w.wizard.isShown());
        EXPECT_EQ(w.log.lines.back(), "Cancel");
    }
}

}  // namespace
}  // namespace ovk
