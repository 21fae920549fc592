// SPDX-License-Identifier: MIT
#include "qt/display_check.hpp"

#include <dlfcn.h>

#include <QDir>
#include <QLibraryInfo>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace ovk {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// Connects to the X server the way Qt's xcb plugin will, through the same library, which is
// loaded only for the question: the component does not link it.
bool xServerAnswers() {
    if (environment("DISPLAY").empty()) return false;
    void* xcb = dlopen("libxcb.so.1", RTLD_LAZY | RTLD_LOCAL);
    if (xcb == nullptr) return false;
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
    const auto hasError = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
    bool answers = false;
    if (connect != nullptr && hasError != nullptr && disconnect != nullptr) {
        void* connection = connect(nullptr, nullptr);
        // xcb_connect never returns null: a failed connection is an object in an error state.
        answers = connection != nullptr && hasError(connection) == 0;
        if (connection != nullptr) disconnect(connection);
    }
    dlclose(xcb);
    return answers;
}

bool waylandUsable() {
    if (environment("WAYLAND_DISPLAY").empty()) return false;
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms");
    return !platforms.entryList({"libqwayland*.so"}, QDir::Files).isEmpty();
}

// QT_QPA_PLATFORM holds one platform or a ";"-separated list to try in turn, each optionally
// followed by ":options".
bool platformUsable(std::string_view entry) {
    const std::string_view name = entry.substr(0, entry.find(':'));
    if (name == "xcb") return xServerAnswers();
    if (name.rfind("wayland", 0) == 0) return waylandUsable();
    // offscreen, minimal, vnc, eglfs, linuxfb: they need no display server, or fail softly.
    return !name.empty();
}

constexpr const char* kRemedy =
    " A headless host sets QT_QPA_PLATFORM=offscreen (windows are drawn into memory) or uses "
    "the client's unattended mode (no windows at all; message boxes go to the host).";

}  // namespace

std::optional<std::string> missingDisplay() {
    const std::string platform = environment("QT_QPA_PLATFORM");
    if (!platform.empty()) {
        std::string_view rest(platform);
        while (!rest.empty()) {
            const auto end = rest.find(';');
            if (platformUsable(rest.substr(0, end))) return std::nullopt;
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        }
        return "The component cannot show its windows: the display that QT_QPA_PLATFORM=" +
               platform + " needs is not available." + kRemedy;
    }
    if (xServerAnswers() || waylandUsable()) return std::nullopt;
    const std::string display = environment("DISPLAY");
    if (!display.empty()) {
        return "The component cannot show its windows: the X display \"" + display +
               "\" (DISPLAY) does not answer." + kRemedy;
    }
    return std::string(
               "The component cannot show its windows: there is no display (neither DISPLAY nor "
               "WAYLAND_DISPLAY is set).") +
           kRemedy;
}

}  // namespace ovk
