// SPDX-License-Identifier: MIT
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <functional>

namespace ovk::soap {

// Runs one transfer of `easy` like curl_easy_perform, but calls `whileWaiting` about every
// `interval` until it ends, however quiet the connection is. curl_easy_perform alone reports
// progress only about once a second while a server thinks, which is far too rarely for a
// window that has to keep painting.
//
// `multi` is the caller's and outlives the call: connections stay in its cache, so they are
// reused from call to call as they would be with curl_easy_perform. `whileWaiting` must not
// throw: it runs between libcurl's calls.
CURLcode performWhileWaiting(CURL* easy, CURLM* multi, const std::function<void()>& whileWaiting,
                             std::chrono::milliseconds interval);

}  // namespace ovk::soap
