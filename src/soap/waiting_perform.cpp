// SPDX-License-Identifier: MIT
#include "soap/waiting_perform.hpp"

#include <algorithm>

namespace ovk::soap {

CURLcode performWhileWaiting(CURL* easy, CURLM* multi, const std::function<void()>& whileWaiting,
                             std::chrono::milliseconds interval) {
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) return CURLE_FAILED_INIT;
    // The easy handle goes back to standing alone whichever way we leave.
    struct Detach {
        CURLM* multi;
        CURL* easy;
        ~Detach() { curl_multi_remove_handle(multi, easy); }
    } const detach{multi, easy};

    using Clock = std::chrono::steady_clock;
    auto nextCall = Clock::now() + interval;
    CURLcode result = CURLE_OK;
    int running = 1;
    while (running > 0) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (running == 0) break;
        const auto untilCall =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextCall - Clock::now());
        const int waitMs = static_cast<int>(std::max<long long>(untilCall.count(), 0));
        if (curl_multi_poll(multi, nullptr, 0, waitMs, nullptr) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (Clock::now() >= nextCall) {
            whileWaiting();
            nextCall = Clock::now() + interval;
        }
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy)
            result = message->data.result;
    }
    return result;
}

}  // namespace ovk::soap
