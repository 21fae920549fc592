// SPDX-License-Identifier: MIT
#include "soap/retry_policy.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <ctime>
#include <optional>
#include <string>

namespace ovk::soap {

namespace {

bool isGatewayTrouble(long status) {
    return status == 502 || status == 503 || status == 504;
}

// Retry-After as delta-seconds or as an HTTP date; nothing when it is neither.
std::optional<std::chrono::milliseconds> askedWait(std::string_view retryAfter) {
    if (retryAfter.empty()) return std::nullopt;
    if (std::all_of(retryAfter.begin(), retryAfter.end(),
                    [](char c) { return c >= '0' && c <= '9'; })) {
        long long seconds = 0;
        const auto [end, ec] =
            std::from_chars(retryAfter.data(), retryAfter.data() + retryAfter.size(), seconds);
        // Too many digits to count is far beyond any bound anyway.
        if (ec != std::errc() || end != retryAfter.data() + retryAfter.size())
            return std::chrono::milliseconds::max();
        return std::chrono::seconds(std::min<long long>(seconds, 1LL << 40));
    }
    const time_t when = curl_getdate(std::string(retryAfter).c_str(), nullptr);
    if (when == -1) return std::nullopt;
    const time_t now = std::time(nullptr);
    return std::chrono::seconds(when > now ? when - now : 0);
}

}  // namespace

bool RetryPolicy::isTransient(const HttpTransport::Result& result) {
    using Outcome = HttpTransport::Outcome;
    if (result.lostBeforeReply) return true;
    // A reply the network cut partway was never read: asked again, the service sends it whole.
    if (result.cutPartway && (result.httpStatus == 200 || isGatewayTrouble(result.httpStatus)))
        return true;
    if (result.outcome == Outcome::ConnectionFailed && isGatewayTrouble(result.proxyConnectStatus))
        return true;
    return result.outcome == Outcome::Completed && isGatewayTrouble(result.httpStatus);
}

std::chrono::milliseconds RetryPolicy::waitBefore(int repeat, std::string_view retryAfter,
                                                  std::minstd_rand& random) const {
    if (const auto asked = askedWait(retryAfter)) return std::min(*asked, longestWait);
    auto wait = firstWait;
    for (int i = 1; i < repeat && wait < longestWait; ++i) wait *= 2;
    std::uniform_int_distribution<long long> stretch(0, wait.count() / 2);
    return std::min(wait + std::chrono::milliseconds(stretch(random)), longestWait);
}

}  // namespace ovk::soap
