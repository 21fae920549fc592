// SPDX-License-Identifier: MIT
#pragma once

#include <zlib.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ovk::soap {

// Inflates a reply body sent with "Content-Encoding: gzip" or "deflate" as it arrives. The
// transport inflates replies itself rather than through libcurl, so that it sees the bytes as
// they travelled (the bound on inflation counts them) without libcurl's verbose mode, and sends
// its Accept-Encoding with the other headers it builds once: both cost more per small call than
// the inflating.
class ContentDecoding {
  public:
    ContentDecoding() = default;
    ~ContentDecoding();
    ContentDecoding(const ContentDecoding&) = delete;
    ContentDecoding& operator=(const ContentDecoding&) = delete;

    // The value offered in Accept-Encoding.
    static constexpr std::string_view kOffered = "gzip, deflate";

    // Starts a body sent with this Content-Encoding header value; empty or "identity" for none.
    // False, with why(), for an encoding that was not offered.
    bool start(std::string_view contentEncoding);
    // Whether the body is being inflated.
    bool active() const { return active_; }
    // Inflates the next piece of the body, handing what comes out to `out` (which returns false
    // to stop). False when the body is not a valid stream (why() says so) or `out` stopped;
    // `stopped` tells which.
    bool inflate(const char* data, std::size_t size,
                 const std::function<bool(const char*, std::size_t)>& out, bool& stopped);
    // Ends the body; the next one starts anew.
    void reset();
    const std::string& why() const { return why_; }

  private:
    bool init(int windowBits);

    z_stream stream_{};
    bool active_ = false;
    bool initialised_ = false;
    bool ended_ = false;
    bool rawDeflateTried_ = true;
    bool producedOutput_ = false;
    std::vector<unsigned char> out_;
    std::string why_;
};

}  // namespace ovk::soap
