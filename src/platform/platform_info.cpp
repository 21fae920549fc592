// SPDX-License-Identifier: MIT
#include "platform/platform_info.hpp"

namespace ovk {

OsVersion LinuxPlatformInfo::osVersion() const {
    return {kWaitCapableMajorVersion, platform_id::Win32Nt};
}

}  // namespace ovk
