// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTreeView>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "component/client_services.hpp"
#include "component_folder.hpp"
#include "fake_shell.hpp"
#include "modal_helpers.hpp"
#include "platform/settings_store.hpp"
#include "qt/qt_application.hpp"
#include "qt/qt_timer_factory.hpp"
#include "qt/qt_user_interface.hpp"
#include "qt/service_wait.hpp"
#include "ref_service.hpp"
#include "soap/soap_client.hpp"
#include "temp_dir.hpp"
#include "wizard/frm_wiz.hpp"

namespace ovk::test {

// What the wizard tells its owner, as readable lines.
struct WizardLog : WizardEvents {
    std::vector<std::string> lines;
    void Finish() override { lines.emplace_back("Finish"); }
    void Cancel() override { lines.emplace_back("Cancel"); }
    void Help() override { lines.emplace_back("Help"); }
    void DownloadItem(const std::string& MaterialId) override {
        lines.push_back("DownloadItem " + MaterialId);
        if (onDownloadItem) onDownloadItem(MaterialId);
    }
    // What the owner does with an item, for example fail.
    std::function<void(const std::string&)> onDownloadItem;
    void DownloadStructure() override { lines.emplace_back("DownloadStructure"); }
    void NewStepNum(int16_t Stepnumber) override {
        lines.push_back("NewStepNum " + std::to_string(Stepnumber));
    }
    void DebugInfo(const std::string&) override { lines.emplace_back("DebugInfo"); }
    void HandlerFailed(int32_t number, const std::string& description,
                       const std::string&) override {
        lines.push_back("HandlerFailed " + std::to_string(number) + " " + description);
    }
};

// The wizard in its real window on the desktop user interface, connected to a reference
// service over SOAP the way the component connects it, for the project DEMO.
struct WizardWindow {
    ComponentFolder component;
    TempDir work;
    QtUserInterface ui;
    MemorySettingsStore settings;
    QtTimerFactory timers{[this] { ui.renderOpenViews(); }};
    FakeShell shell;
    FakePlatformInfo platform;
    WizardLog log;
    frmWiz wizard{WizardServices{ui, settings, timers, ShellServices{shell, platform, ui}}, log};

    WizardWindow(const RefService& service, int16_t guiLanguage) {
        ensureApplication();
        auto client = baseClientServices().makeServiceClient();
        // As on the desktop, the windows paint while the service answers.
        if (auto* soap = dynamic_cast<soap::SoapClient*>(client.get()))
            soap->setWaitHook(&letWindowsPaintWhileWaiting);
        client->initialize(component.path() / "VelmoraSvr.wsdl");
        client->setProperty("EndPointURL", service.url());
        wizard.MySoapobject = std::move(client);
        wizard.ActiveProject = "DEMO";
        wizard.ActivePassword = "demo";
        wizard.ActiveLangId = guiLanguage;
        wizard.GUILangID = guiLanguage;
        wizard.DownloadFile = (work.path() / "download.xml").string();
    }

    // Shows the wizard modally; `script` runs once the window is on screen, as the user.
    void show(std::function<void(QWidget& window)> script) {
        whenDialog("frmWiz", [script = std::move(script)](QWidget& window) {
            // A desktop activates the new window; shortcuts such as mnemonics need that.
            window.activateWindow();
            if (!QTest::qWaitForWindowActive(&window))
                ADD_FAILURE() << "the wizard never became active";
            script(window);
        });
        ui.showModal(wizard);
    }
};

// How the event loop turned while `action` ran and its work went on, until `done` held: how
// often a timer due every millisecond got its turn, and the longest wait for one. A window
// whose loop turns repaints; one whose loop stands still is frozen.
struct LoopTurns {
    int turns = 0;
    qint64 longestMs = 0;
    qint64 totalMs = 0;
};
inline LoopTurns watchLoop(const std::function<void()>& action, const std::function<bool()>& done,
                           const std::function<void()>& eachTurn = {}) {
    LoopTurns seen;
    QElapsedTimer total, sinceLast;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        ++seen.turns;
        seen.longestMs = std::max(seen.longestMs, sinceLast.restart());
        if (eachTurn) eachTurn();
    });
    total.start();
    sinceLast.start();
    heartbeat.start(1);
    action();
    while (!done() && total.elapsed() < 60000) QTest::qWait(5);
    seen.longestMs = std::max(seen.longestMs, sinceLast.elapsed());
    seen.totalMs = total.elapsed();
    return seen;
}

// Lets the event loop run until `done` holds or `milliseconds` have passed.
inline bool waitFor(const std::function<bool()>& done, int milliseconds = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds) return false;
        QTest::qWait(10);
    }
    return true;
}

template <typename T>
T& widget(QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) throw std::runtime_error(std::string("no widget ") + name);
    return *found;
}

// Clicks a row of an item view as a user does: brought into sight, then clicked in its middle.
inline void clickIndex(QAbstractItemView& view, const QModelIndex& index,
                       Qt::MouseButton button = Qt::LeftButton) {
    view.scrollTo(index);
    QTest::mouseClick(view.viewport(), button, {}, view.visualRect(index).center());
}

// Clicks the check box of a row's first cell.
inline void clickCheckBox(QAbstractItemView& view, const QModelIndex& index) {
    view.scrollTo(index);
    QStyleOptionViewItem option;
    option.initFrom(view.viewport());
    option.rect = view.visualRect(index);
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box =
        view.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &view);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, box.center());
}

// The first leaf below `from`, opening the branches on the way as a user would.
inline QModelIndex firstLeaf(QTreeView& tree, QModelIndex from = {}) {
    QModelIndex at = from.isValid() ? from : tree.model()->index(0, 0);
    while (tree.model()->rowCount(at) > 0) {
        tree.expand(at);
        at = tree.model()->index(0, 0, at);
    }
    return at;
}

// Runs `action` on the next pop-up menu once it is open; call before the click that opens it.
inline void whenPopupMenu(std::function<void(QMenu&)> action) {
    struct Waiter {
        std::function<void(QMenu&)> action;
        int turnsLeft = 100000;
        void poll(std::shared_ptr<Waiter> self) {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                menu != nullptr && menu->isVisible()) {
                action(*menu);
                return;
            }
            if (--turnsLeft > 0) QTimer::singleShot(0, qApp, [self] { self->poll(self); });
        }
    };
    auto waiter = std::make_shared<Waiter>(Waiter{std::move(action)});
    QTimer::singleShot(0, qApp, [waiter] { waiter->poll(waiter); });
}

// Clicks the menu entry named `name`.
inline void clickMenuEntry(QMenu& menu, const char* name) {
    for (QAction* action : menu.actions()) {
        if (action->objectName() == QLatin1String(name)) {
            QTest::mouseClick(&menu, Qt::LeftButton, {}, menu.actionGeometry(action).center());
            return;
        }
    }
    menu.close();
}

}  // namespace ovk::test
