// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <string_view>

namespace ovk::files {

// Writes all of `bytes` to `fd` at `offset`, or at the descriptor's file position when
// `offset` is negative. Returns 0, or the error number of the write that failed.
//
// Large writes (payloads and the Base64 texts of the download document, hundreds of
// megabytes) go through a pipe: vmsplice hands the pages to the kernel and splice copies them
// into the file through the kernel's own mapping of memory. Measured on a virtual machine
// under load, write() copying the same bytes from the process's mapping took anything from as
// long to ten times as long (0.14 to 1.5 s for 341 MB), its page-table walks being what the
// load slows down; through the pipe it stayed at 0.2 to 0.3 s, the time of copying a file. Where
// splice cannot reach the file (a file system without it, a descriptor opened for appending), the
// bytes are written with write() instead.
int writeFromMemory(int fd, std::string_view bytes, off_t offset = -1);

}  // namespace ovk::files
