// SPDX-License-Identifier: MIT
#include "qt/qt_application.hpp"

#include <QApplication>

#include "platform/errors.hpp"
#include "qt/display_check.hpp"

namespace ovk {

QApplication& ensureApplication() {
    if (QCoreApplication* existing = QCoreApplication::instance()) {
        if (auto* application = qobject_cast<QApplication*>(existing)) return *application;
        throw Error(
            err::ObjectMissing,
            "The host runs a Qt application without widgets; the component's windows need a "
            "QApplication.",
            "ovk_client");
    }
    // Qt would abort the host's whole process on a missing display; report it instead.
    if (const auto reason = missingDisplay()) throw Error(err::NoDisplay, *reason, "ovk_client");
    // QApplication keeps references to argc and argv for its whole life, so they are static.
    // The object itself is never deleted: the host may create and use clients until the very
    // end of the process, and tearing Qt down from a static destructor races with the
    // destruction of Qt's own globals.
    static int argc = 1;
    static char name[] = "ovk_client";
    static char* argv[] = {name, nullptr};
    return *new QApplication(argc, argv);
}

}  // namespace ovk
