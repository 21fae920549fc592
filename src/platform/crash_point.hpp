// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>

namespace ovk::files {

// The test hook that stands for a crash: with OVK_CRASH_AFTER_BYTES=N the process is killed once
// N bytes of what a download writes (the document, its journal, the record and payload files)
// have been written, in the middle of a write if it falls there. Tests use it to stop the
// program at every write, as a power cut or kill -9 would. Returns how many of the `wanted`
// bytes may be written now; without the variable, all of them.
std::size_t bytesBeforeCrash(std::size_t wanted);

}  // namespace ovk::files
