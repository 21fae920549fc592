// SPDX-License-Identifier: MIT
// Compiled into the shared library itself rather than taken from a static archive, where the
// linker would drop an object that nothing refers to: loading the library is what makes a
// default-constructed Client a desktop client.

#include "qt/desktop_client_services.hpp"

namespace {

const bool registered = [] {
    ovk::useDesktopClientServices();
    return true;
}();

}  // namespace
