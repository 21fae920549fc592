// SPDX-License-Identifier: MIT
#pragma once

class QApplication;

namespace ovk {

// The application object every widget needs. A host that runs its own QApplication keeps it;
// a host without one (a plain C or C++ program loading the component) gets one created on
// first use. Throws ovk::Error when the host runs a Qt application without widgets, since a
// second application object cannot be made, and (err::NoDisplay) when there is no display to
// open windows on, where Qt would abort the process.
QApplication& ensureApplication();

}  // namespace ovk
