// SPDX-License-Identifier: MIT
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <functional>
#include <memory>

namespace ovk::test {

// Tests never open real windows: Qt draws into memory unless the caller chose a platform.
inline const bool kOffscreen = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}();

// Acts on the modal window that a blocking call is about to open: waits, one event-loop turn
// at a time, until the innermost modal window is one `accept` likes, then runs `action` on it.
// Call it before the blocking call. Gives up after a bounded number of turns so that a window
// that never comes cannot hang the test; the test's own assertions then fail.
inline void whenModal(std::function<bool(QWidget&)> accept, std::function<void(QWidget&)> action) {
    struct Waiter {
        std::function<bool(QWidget&)> accept;
        std::function<void(QWidget&)> action;
        int turnsLeft = 100000;
        void poll(std::shared_ptr<Waiter> self) {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal != nullptr && modal->isVisible() && accept(*modal)) {
                action(*modal);
                return;
            }
            if (--turnsLeft > 0) QTimer::singleShot(0, qApp, [self] { self->poll(self); });
        }
    };
    auto waiter = std::make_shared<Waiter>(Waiter{std::move(accept), std::move(action)});
    QTimer::singleShot(0, qApp, [waiter] { waiter->poll(waiter); });
}

// The modal window whose object name is `name`.
inline void whenDialog(const QString& name, std::function<void(QWidget&)> action) {
    whenModal([name](QWidget& w) { return w.objectName() == name; }, std::move(action));
}

// The next message box.
inline void whenMessageBox(std::function<void(QMessageBox&)> action) {
    whenModal([](QWidget& w) { return qobject_cast<QMessageBox*>(&w) != nullptr; },
              [action = std::move(action)](QWidget& w) { action(static_cast<QMessageBox&>(w)); });
}

}  // namespace ovk::test
