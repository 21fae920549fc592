// SPDX-License-Identifier: MIT
#include "soap/call_trace.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "platform/errors.hpp"

namespace ovk::soap {

namespace {

std::string utcNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03dZ", static_cast<int>(millis));
    return std::string(text, length) + fraction;
}

}  // namespace

CallTrace::CallTrace(const std::filesystem::path& file, bool withBodies) : withBodies_(withBodies) {
    fd_ = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    // A file that was there before keeps its mode on open: it is made private before the first
    // line, since the lines name projects and articles, and with bodies the whole traffic.
    if (fd_ >= 0 && ::fchmod(fd_, 0600) != 0) {
        const int errnum = errno;
        ::close(fd_);
        fd_ = -1;
        errno = errnum;
    }
    if (fd_ < 0) {
        throw Error(
            err::FileNotFound,
            "The trace file " + file.string() + " cannot be written: " + std::strerror(errno),
            "CallTrace");
    }
}

CallTrace::~CallTrace() {
    if (fd_ >= 0) ::close(fd_);
}

void CallTrace::addSecret(const std::string& secret) {
    std::lock_guard lock(mutex_);
    secrets_.add(secret);
}

std::string CallTrace::redacted(const std::string& text) const {
    return secrets_.masked(text);
}

void CallTrace::write(const Entry& entry) noexcept {
    try {
        std::lock_guard lock(mutex_);
        nlohmann::ordered_json line;
        line["time"] = utcNow();
        line["operation"] = redacted(entry.operation);
        line["article"] = redacted(entry.article);
        line["attempt"] = entry.attempt;
        line["status"] = entry.httpStatus;
        line["sent"] = entry.bytesSent;
        line["received"] = entry.bytesReceived;
        line["inflated"] = entry.bytesInflated;
        line["ms"] = std::chrono::duration<double, std::milli>(entry.duration).count();
        line["outcome"] = redacted(entry.outcome);
        if (withBodies_) {
            line["request"] = redacted(entry.request);
            line["reply"] = redacted(entry.reply);
        }
        // Bytes that are not UTF-8 become U+FFFD rather than failing the line.
        std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        text += '\n';
        // One write per line: with O_APPEND, lines of several clients never interleave.
        for (std::size_t at = 0; at < text.size();) {
            const ssize_t n = ::write(fd_, text.data() + at, text.size() - at);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            at += static_cast<std::size_t>(n);
        }
    } catch (...) {
    }
}

}  // namespace ovk::soap
