// SPDX-License-Identifier: MIT
// Linked into ovk-host-test-hooks only, never into what is installed: the environment of a test
// stops the host part-way through its writes, as a kill -9 or a power cut would, and puts it in
// another boot of the machine, as the run after a restart would be.
//   OVK_CRASH_AFTER_BYTES=N  killed (SIGKILL) once N bytes of the download's files are written,
//                            in the middle of a write if it falls there
//   OVK_BOOT_ID=text         journals are read and written as in the boot named `text`

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>

#include "platform/write_hooks.hpp"
#include "service/journal_io.hpp"

namespace {

class KilledAfterBytes final : public ovk::files::WriteHooks {
  public:
    explicit KilledAfterBytes(long long budget) : budget_(budget) {}

    std::size_t writing(std::size_t wanted) override {
        // The checkpoint thread writes too.
        long long before = written_.load();
        std::size_t allowed = 0;
        do {
            const long long left = budget_ - before;
            if (left <= 0) ::raise(SIGKILL);
            allowed = std::min<std::size_t>(wanted, static_cast<std::size_t>(left));
        } while (!written_.compare_exchange_weak(before, before + static_cast<long long>(allowed)));
        return allowed;
    }

  private:
    const long long budget_;
    std::atomic<long long> written_{0};
};

const char* variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

// Before main, so before any download.
const bool installed = [] {
    if (const char* bytes = variable("OVK_CRASH_AFTER_BYTES")) {
        static KilledAfterBytes hooks(std::atoll(bytes));
        ovk::files::setWriteHooks(&hooks);
    }
    if (const char* boot = variable("OVK_BOOT_ID")) ovk::journal::standInBoot(boot);
    return true;
}();

}  // namespace
