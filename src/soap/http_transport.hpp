// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace ovk::soap {

// One libcurl easy handle that posts SOAP requests. The handle lives as long as the transport,
// so its connection is kept alive and reused from call to call. Only http and https are spoken,
// redirects are never followed, and no signal is used for time-outs.
//
// Certificates are always verified, peer and host name; nothing turns that off. Trusted are the
// system's certificate authorities plus those of the PEM bundles that the variables
// SSL_CERT_FILE and CURL_CA_BUNDLE name (read at the first https call; a bundle that cannot
// be read fails every https call with a text saying so) and of trustCertificateAuthorities().
// A failed handshake ends as ConnectionFailed whose errorText says in plain words what was
// wrong (untrusted issuer, another host name, expired, no TLS spoken).
class HttpTransport {
  public:
    HttpTransport();
    ~HttpTransport();
    HttpTransport(const HttpTransport&) = delete;
    HttpTransport& operator=(const HttpTransport&) = delete;

    // "host:port" of an HTTP proxy, or empty for a direct connection. Proxy settings from the
    // environment (http_proxy and the like) are never used: the configuration is explicit.
    void setProxy(const std::string& hostPort);
    // Basic credentials for the proxy; an empty user sends none.
    void setProxyCredentials(const std::string& user, const std::string& password);
    // A PEM bundle of certificate authorities to trust besides the others; an empty path trusts
    // none besides them. Throws Error, naming `origin`, when the file cannot be used.
    void trustCertificateAuthorities(const std::filesystem::path& file, std::string_view origin);
    // Bounds the whole call, connection included.
    void setTimeout(std::chrono::milliseconds timeout);
    // Replies whose announced length exceeds this are refused before their body is read. A
    // compressed reply is offered to the sink as it inflates, so that the sink can hold its
    // inflated size to the same bound.
    void setMaxReplyBytes(std::uint64_t bytes);
    // Counts the requests that go out, those that libcurl sends again on a kept-alive
    // connection that proved closed included (Result::requestsSent, 0 while not counted).
    // libcurl tells of them only in its verbose mode, which costs some time on every call.
    void countRequests(bool on);
    // Called about every 50 ms while a call waits for the network, so that the caller's windows
    // can repaint; empty for none. It must not throw and must not start another call.
    void setWaitHook(std::function<void()> hook);

    // Receives the reply body piece by piece; returning false ends the transfer.
    class BodySink {
      public:
        virtual ~BodySink() = default;
        virtual bool receive(const char* data, std::size_t size, long httpStatus) = 0;
        // The body's announced length (Content-Length), before its first piece; only a hint.
        virtual void expect(std::uint64_t /*length*/) {}
        // A post started ahead calls this once its whole reply is there, on the thread that
        // runs such posts, so that the sink can read the reply before its call comes. What it
        // throws is raised by finishPost.
        virtual void complete() {}
    };

    enum class Outcome {
        Completed,  // a whole HTTP reply arrived (any status)
        Aborted,    // the sink ended the transfer
        TimedOut,
        Truncated,  // the connection ended before the announced body did
        TooLarge,   // the announced length is over the limit
        // a compressed body inflated past 64 MiB and 200 times its size on the wire
        OverInflated,
        ConnectionFailed,
    };

    struct Result {
        Outcome outcome = Outcome::Completed;
        long httpStatus = 0;          // 0 when no reply header arrived
        long proxyConnectStatus = 0;  // the proxy's answer to CONNECT (https through a proxy)
        std::string statusLine;       // "HTTP/1.1 500 Internal Server Error"
        std::string errorText;        // libcurl's explanation when the transfer failed
        // The network failed the post before any byte of a reply came: the connection was
        // refused, reset or never made in time, or it closed without a word. TLS refusals are
        // not among them: they say something about the service.
        bool lostBeforeReply = false;
        // The network failed the post after a reply had begun: reset, closed or timed out
        // inside the reply, or its body ended before the length it announced.
        bool cutPartway = false;
        // How many times the request went out: the HTTP client itself sends it once more when
        // a kept-alive connection proves dead under it. Counted only when asked (countRequests).
        int requestsSent = 0;
        // From the start of the post to the first byte of the reply; zero when none came.
        std::chrono::microseconds firstByte{0};
        std::string retryAfter;         // the reply's Retry-After header, as sent
        std::uint64_t bytesSent = 0;    // the request body
        std::uint64_t bytesOnWire = 0;  // the reply body as it travelled, compressed or not
    };

    Result post(const std::string& url, std::string_view soapAction, std::string_view body,
                BodySink& sink);

    // A post started ahead of the call that wants its reply, on a further keep-alive
    // connection of its own. Such posts run on a worker thread of the transport, and so does
    // their sink until finishPost returns. Dropping one ends its transfer (and waits for a
    // sink's complete() that has begun); it must go before the transport.
    class PendingPost {
      public:
        ~PendingPost();
        PendingPost(const PendingPost&) = delete;
        PendingPost& operator=(const PendingPost&) = delete;

      private:
        friend class HttpTransport;
        struct State;
        explicit PendingPost(std::unique_ptr<State> state);
        std::unique_ptr<State> state_;
    };

    // Starts a post with this transport's settings and returns at once; the reply goes to
    // `sink`, which must outlive the post. Nothing when it cannot be started (the caller then
    // posts as usual). Only the connection is bounded by the time-out until finishPost.
    std::unique_ptr<PendingPost> startPost(const std::string& url, std::string_view soapAction,
                                           std::string body, BodySink& sink);
    // Waits for a started post at most `timeout` from now, calling the wait hook as post()
    // does; a reply that is all there is waited for while its sink's complete() runs. The post
    // cannot be finished twice.
    Result finishPost(PendingPost& post, std::chrono::milliseconds timeout);

    // Waits until the reply of a started post has begun (its first header line came) or the
    // post has ended, at most `wait`, calling the wait hook as a call's wait does. False when
    // neither happened in that time; the post goes on either way.
    bool awaitReplyStart(PendingPost& post, std::chrono::milliseconds wait);
    // Whether the reply of a started post has begun, without waiting.
    static bool replyBegun(const PendingPost& post);
    // Closes the connections that posts ahead kept alive, so that a server serving one
    // connection at a time is free for the transport's own. No post ahead may be pending.
    void closeAheadConnections();

    // Waits `duration` (before a call is made again), calling the wait hook as a call's wait
    // does. Started posts go on meanwhile.
    void pause(std::chrono::milliseconds duration);

  private:
    struct Impl;
    struct Transfer;
    static Result resultOf(Transfer& transfer, int code, bool https);
    std::unique_ptr<Impl> impl_;
};

}  // namespace ovk::soap
