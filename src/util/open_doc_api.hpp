// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ovk {

class Form;
class PlatformInfo;
class Shell;
class UserInterface;

// The component's own application title, the first words of its shell messages.
inline constexpr std::string_view kApplicationTitle = "ovk_client";

// The services the shell helpers work through; the composition root supplies real ones, tests
// fakes.
struct ShellServices {
    Shell& shell;
    PlatformInfo& platform;
    UserInterface& ui;
};

namespace OpenDocApi {

// Opens `Target` with the program registered for it, on behalf of `Owner`, with the component's
// folder as working folder. Returns -1 when the target was handed over; otherwise explains the
// failure in a message box and returns 0.
int16_t OpenDocument(const ShellServices& services, Form& Owner, const std::string& Target,
                     int16_t ShowCommand);

// Opens `FileName` and, when `Wait` is set and the system supports it, waits until the started
// program has ended, letting the user interface handle its pending events meanwhile. A failure
// to open is explained in a message box.
void ShellExecAndWait(const ShellServices& services, std::string& FileName, bool& Wait,
                      const Form* Owner = nullptr);

}  // namespace OpenDocApi
}  // namespace ovk
