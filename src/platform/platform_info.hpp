// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace ovk {

// What the component's callers learn about the operating system: the major version and the
// platform identifier, in the numbers hosts already receive from the component. They decide
// whether a started program can be waited for and how it is found.
struct OsVersion {
    int32_t majorVersion = 0;
    int32_t platformId = 0;
};

namespace platform_id {
// Both identifiers mean "the started program can be found"; any other value means it cannot.
inline constexpr int32_t Win32Windows = 1;
inline constexpr int32_t Win32Nt = 2;
}  // namespace platform_id

// The major version for which waiting for a started program is supported.
inline constexpr int32_t kWaitCapableMajorVersion = 4;

class PlatformInfo {
  public:
    virtual ~PlatformInfo() = default;
    virtual OsVersion osVersion() const = 0;
};

// Reports the version for which waiting is supported rather than the kernel's own numbers.
// The numbers only ever decide whether a started program can be waited for, and here it always
// can: the process started for a target is our own child, so no search of the process table is
// needed. Reporting the kernel's version would switch off a feature that works.
class LinuxPlatformInfo final : public PlatformInfo {
  public:
    OsVersion osVersion() const override;
};

}  // namespace ovk
