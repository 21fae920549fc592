// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <random>
#include <string_view>

#include "soap/http_transport.hpp"

namespace ovk::soap {

// When a failed call is made again, and how long it waits first. Every operation of the
// master-data service only reads, so any of them may be repeated; but only failures that say
// nothing about the request are worth it: the network lost the post before a reply came or cut
// the reply partway (reset, closed, timed out inside it, shorter than announced), or a gateway
// or an overloaded server answered 502, 503 or 504. Anything the service itself said in a whole
// reply (a fault, a 500, a malformed or oversized reply) would be said again.
//
// The waits: what Retry-After asks (seconds or an HTTP date), else 0.5 s, 1 s, 2 s ... doubling,
// each stretched by up to half again at random so that many clients thrown off together do not
// return together; never more than `longestWait`. With `attempts` repeats at most, a call
// therefore waits at most attempts × longestWait between its attempts, each of which keeps its
// own time-out.
struct RetryPolicy {
    // Repeats after the first attempt; 0 makes every call once.
    int attempts = 3;
    std::chrono::milliseconds firstWait{500};
    std::chrono::milliseconds longestWait{30000};

    // The most repeats a setting may ask for, so that the total wait stays bounded.
    static constexpr int kMostAttempts = 10;

    static bool isTransient(const HttpTransport::Result& result);
    // The wait before repeat number `repeat` (from 1), given the failed reply's Retry-After.
    std::chrono::milliseconds waitBefore(int repeat, std::string_view retryAfter,
                                         std::minstd_rand& random) const;
};

}  // namespace ovk::soap
