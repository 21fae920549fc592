// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "soap/secret_masker.hpp"

namespace ovk::soap {

// A record of every service call for support: one JSON line per attempt of a call, appended to
// a file that only its owner can read:
//   {"time":"2026-12-07T14:46:09.123Z","operation":"GetItemData","article":"4711",
//    "attempt":1,"status":200,"sent":412,"received":1830,"inflated":5120,
//    "ms":12.4,"outcome":"ok"}
// "received" counts the reply's bytes as they travelled, "inflated" the same after
// decompression; "ms" is how long the call waited for the attempt (a reply fetched ahead may
// cost it nearly nothing); "outcome" is "ok", "retried: …", "resent: …" (a request libcurl sent
// again on a kept-alive connection that had closed) or the fault code and text the call
// ended with. With bodies, "request" and "reply" hold the texts too (1 MiB of a reply at most).
//
// Secrets never reach the file: every text of a line is written with each secret given to
// addSecret replaced by "***" in every form it can take there (see SecretMasker), and no header
// is ever written, so neither an Authorization nor a Proxy-Authorization can be.
class CallTrace {
  public:
    // Opens `file` for appending, creating it or making it readable and writable by its owner
    // alone. Throws
    // Error (file not found) naming the file when it cannot be opened.
    CallTrace(const std::filesystem::path& file, bool withBodies);
    ~CallTrace();
    CallTrace(const CallTrace&) = delete;
    CallTrace& operator=(const CallTrace&) = delete;

    void addSecret(const std::string& secret);
    bool withBodies() const { return withBodies_; }

    struct Entry {
        std::string operation;
        std::string article;  // the call's last text argument, the item asked for
        int attempt = 1;
        long httpStatus = 0;
        std::uint64_t bytesSent = 0;
        std::uint64_t bytesReceived = 0;
        std::uint64_t bytesInflated = 0;
        std::chrono::steady_clock::duration duration{};
        std::string outcome;
        std::string request;  // only with bodies
        std::string reply;    // only with bodies
    };
    // Never throws: a trace that cannot be written must not fail the call it describes.
    void write(const Entry& entry) noexcept;

  private:
    std::string redacted(const std::string& text) const;

    bool withBodies_;
    int fd_ = -1;
    SecretMasker secrets_;
    std::mutex mutex_;
};

}  // namespace ovk::soap
