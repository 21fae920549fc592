#pragma once

class QApplication;

namespace ovk {

// The application object every widget needs. A host that runs its own QApplication keeps it;
// a host without one (a plain C or C++ program loading the component) gets one created on
// first use. Throws ovk::Error when the host runs a Qt application without widgets, since a
// second application object cannot be made.
QApplication& ensureApplication();

}  // namespace ovk
