// SPDX-License-Identifier: MIT
#include "soap/http_transport.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/errors.hpp"
#include "platform/text.hpp"
#include "soap/content_decoding.hpp"
#include "soap/extra_trust.hpp"
#include "soap/post_worker.hpp"
#include "soap/tls_failure.hpp"
#include "soap/waiting_perform.hpp"

#ifndef OVK_VERSION_TEXT
#define OVK_VERSION_TEXT "0"
#endif

namespace ovk::soap {

namespace {

constexpr long kReceiveBufferBytes = 512L << 10;
constexpr const char* kUserAgentHeader = "User-Agent: ovk_client/" OVK_VERSION_TEXT;

// A compressed reply is refused once it has inflated past both bounds. Real replies inflate 5
// to 20 times, a generated tree of a million nodes (the most regular reply known) 150 times;
// a reply that inflates further is built to exhaust memory, and without this bound would be
// stopped only at the reply limit, gigabytes later.
constexpr std::uint64_t kInflatedFloorBytes = std::uint64_t{64} << 20;
constexpr std::uint64_t kMaxInflation = 200;

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyFree {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct MultiFree {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};

// Extra authorities go into OpenSSL's own store; another TLS library's context is no SSL_CTX.
bool curlSpeaksOpenSsl() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info != nullptr && info->ssl_version != nullptr &&
           startsWithIgnoringAsciiCase(info->ssl_version, "OpenSSL");
}

constexpr const char* kTrustVariables[] = {"SSL_CERT_FILE", "CURL_CA_BUNDLE"};

// Failures of the network itself, as opposed to anything the other side said.
bool lostBeforeReply(CURL* easy, CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_CONNECT:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
            return true;
        case CURLE_OPERATION_TIMEDOUT: {
            // Only while connecting: a service that took the request and then thought too long
            // would take as long again.
            curl_off_t connected = 0;
            curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connected);
            return connected == 0;
        }
        default:
            return false;
    }
}

// Failures of the network after a reply had begun. The reply was never whole, so nothing can be
// read from it; a body that was whole but would not inflate is among them, as a cut in a
// compressed stream looks just so.
bool cutPartway(CURLcode code) {
    switch (code) {
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_OPERATION_TIMEDOUT:
            return true;
        default:
            return false;
    }
}

void countBytes(CURL* easy, HttpTransport::Result& result) {
    curl_off_t sent = 0, received = 0;
    curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &sent);
    curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &received);
    result.bytesSent = static_cast<std::uint64_t>(std::max<curl_off_t>(sent, 0));
    result.bytesOnWire = static_cast<std::uint64_t>(std::max<curl_off_t>(received, 0));
}

}  // namespace

// What libcurl's callbacks of one post write into; every handle has its own.
struct HttpTransport::Transfer {
    CURL* easy = nullptr;
    HttpTransport::BodySink* sink = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    std::string statusLine;
    std::string retryAfter;
    bool aborted = false;
    bool bodyStarted = false;
    // Read by the caller's thread while the worker runs the post.
    std::atomic<bool> replyBegun = false;
    std::uint64_t inflated = 0;  // body bytes handed to the sink, after decompression
    std::uint64_t received = 0;  // bytes as they came off the connection
    bool overInflated = false;
    int requestsSent = 0;
    std::exception_ptr sinkFailure;
    ContentDecoding decoding;
    // The body could not be inflated (why: decoding.why()).
    bool badEncoding = false;

    void reset(HttpTransport::BodySink& to) {
        errorBuffer[0] = '\0';
        statusLine.clear();
        retryAfter.clear();
        sink = &to;
        aborted = false;
        bodyStarted = false;
        replyBegun = false;
        requestsSent = 0;
        inflated = 0;
        received = 0;
        overInflated = false;
        decoding.reset();
        badEncoding = false;
    }

    // Hands a piece of the body, inflated, to the sink; false ends the transfer.
    bool deliver(const char* data, std::size_t size, long status) {
        if (inflatesTooMuch(size)) {
            overInflated = true;
            return false;
        }
        return sink->receive(data, size, status);
    }

    // Whether the body has inflated past both bounds. The bytes received are counted as they
    // arrive: libcurl's own count of a chunked reply stays behind until its end.
    bool inflatesTooMuch(std::size_t more) {
        inflated += more;
        return inflated > kInflatedFloorBytes && inflated > kMaxInflation * received;
    }
};

struct HttpTransport::Impl {
    // Declared before the handle so that the handle goes first.
    std::unique_ptr<curl_slist, SlistFree> headers;
    std::unique_ptr<curl_slist, SlistFree> proxyHeaders;
    std::unique_ptr<CURLM, MultiFree> waitingMulti;  // only while a wait hook is set
    std::unique_ptr<CURL, EasyFree> easy;
    std::function<void()> waitHook;
    Transfer main;
    long timeoutMs = 0;
    std::string proxy;
    std::string url;
    std::string soapAction;
    // Posts started ahead of their calls share this handle's connection cache, so that each
    // keeps its own connection alive from post to post. The worker runs them; it goes first.
    std::unique_ptr<CURLM, MultiFree> aheadMulti;
    std::unique_ptr<PostWorker> aheadWorker;
    ExtraTrust environmentTrust;
    // Why a variable's bundle cannot be used. It must neither stop plain http:// calls nor be
    // passed over in silence, so every https:// call fails with it.
    std::string environmentTrustProblem;
    ExtraTrust settingTrust;

    bool hasExtraTrust() const { return !environmentTrust.empty() || !settingTrust.empty(); }

    bool environmentTrustRead = false;

    // Only a TLS connection needs the bundles, and they are often the whole system bundle
    // again: read at every start-up, they would cost a plain http:// service more than the
    // calls themselves.
    void readEnvironmentTrustOnce() {
        if (environmentTrustRead) return;
        environmentTrustRead = true;
        readEnvironmentTrust();
        applyTrustCache();
    }

    void readEnvironmentTrust() {
        for (const char* variable : kTrustVariables) {
            const char* file = std::getenv(variable);
            if (file == nullptr || *file == '\0') continue;
            try {
                if (!curlSpeaksOpenSsl()) {
                    throw Error(err::InvalidArgument,
                                std::string("The variable ") + variable +
                                    " names certificate authorities, but this computer's "
                                    "libcurl does not use OpenSSL and cannot add them",
                                "HttpTransport");
                }
                environmentTrust.add(file, std::string("the variable ") + variable);
            } catch (...) {
                if (environmentTrustProblem.empty())
                    environmentTrustProblem = currentError().description;
            }
        }
    }

    // Every new connection builds its own verification store; the extra authorities join the
    // system's there.
    static CURLcode onSslContext(CURL*, void* sslContext, void* self) {
        const auto* impl = static_cast<const Impl*>(self);
        if (!impl->environmentTrust.addTo(sslContext) || !impl->settingTrust.addTo(sslContext))
            return CURLE_OUT_OF_MEMORY;
        return CURLE_OK;
    }

    // libcurl may share one verification store between connections; extra authorities must
    // not outlive a change of the setting in it.
    void applyTrustCache() {
#if LIBCURL_VERSION_NUM >= 0x075700
        curl_easy_setopt(easy.get(), CURLOPT_CA_CACHE_TIMEOUT, hasExtraTrust() ? 0L : 86400L);
#endif
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* self) {
        auto* transfer = static_cast<Transfer*>(self);
        const size_t length = size * count;
        std::string_view line(data, length);
        // Every response on the way (a proxy's CONNECT answer, 100 Continue) starts with its
        // own status line; the last one before the body is the service's.
        if (line.substr(0, 5) == "HTTP/") {
            transfer->replyBegun = true;
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
                line.remove_suffix(1);
            try {
                transfer->statusLine.assign(line);
                transfer->retryAfter.clear();
                transfer->decoding.reset();
            } catch (...) {
                transfer->sinkFailure = std::current_exception();
                return 0;
            }
        } else if (startsWithIgnoringAsciiCase(line, "Retry-After:")) {
            line.remove_prefix(12);
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n' ||
                                     line.back() == ' ' || line.back() == '\t'))
                line.remove_suffix(1);
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
                line.remove_prefix(1);
            // A header is no reason to fail a reply; an absurdly long one is simply not kept.
            if (line.size() <= 64) transfer->retryAfter.assign(line);
        } else if (startsWithIgnoringAsciiCase(line, "Content-Encoding:")) {
            line.remove_prefix(17);
            if (!transfer->decoding.start(line)) {
                transfer->badEncoding = true;
                return 0;
            }
        }
        return length;
    }

    // What goes over the connection: the bytes of a reply as they arrive, before they are
    // inflated, and every request header that goes out, the CONNECT of a proxy tunnel aside.
    static int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
        auto* transfer = static_cast<Transfer*>(self);
        if (type == CURLINFO_HEADER_OUT && std::string_view(data, size).starts_with("POST "))
            ++transfer->requestsSent;
        return 0;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* self) {
        auto* transfer = static_cast<Transfer*>(self);
        const size_t length = size * count;
        transfer->received += length;
        long status = 0;
        curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
        // An exception must not unwind through libcurl's C frames: it ends the transfer and
        // is raised again once curl_easy_perform has returned.
        try {
            if (!transfer->bodyStarted) {
                transfer->bodyStarted = true;
                curl_off_t announced = -1;
                if (curl_easy_getinfo(transfer->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T,
                                      &announced) == CURLE_OK &&
                    announced > 0) {
                    transfer->sink->expect(static_cast<std::uint64_t>(announced));
                }
            }
            if (!transfer->decoding.active()) {
                if (transfer->deliver(data, length, status)) return length;
            } else {
                bool stopped = false;
                const auto deliver = [transfer, status](const char* piece, std::size_t size) {
                    return transfer->deliver(piece, size, status);
                };
                if (transfer->decoding.inflate(data, length, deliver, stopped)) return length;
                transfer->badEncoding = !stopped;
            }
        } catch (...) {
            transfer->sinkFailure = std::current_exception();
        }
        transfer->aborted = !transfer->badEncoding;
        return 0;
    }
};

HttpTransport::HttpTransport() : impl_(std::make_unique<Impl>()) {
    initialiseCurlOnce();
    impl_->easy.reset(curl_easy_init());
    CURL* easy = impl_->easy.get();
    if (easy == nullptr)
        throw Error(err::OutOfMemory, "Cannot create an HTTP client", "SoapClient");
    impl_->main.easy = easy;
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, impl_->main.errorBuffer);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_PROXY_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_PROXY_SSL_VERIFYHOST, 2L);
    // An empty proxy text switches off the proxy variables of the environment.
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    // Replies are inflated here, not by libcurl (see ContentDecoding); the offer of gzip and
    // deflate goes with the other headers (soapHeaders), and so does the User-Agent, which the
    // proxy's CONNECT gets too.
    curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    impl_->proxyHeaders.reset(curl_slist_append(nullptr, kUserAgentHeader));
    if (!impl_->proxyHeaders)
        throw Error(err::OutOfMemory, "Cannot create an HTTP client", "SoapClient");
    curl_easy_setopt(easy, CURLOPT_PROXYHEADER, impl_->proxyHeaders.get());
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &impl_->main);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &impl_->main);
    // The only way to see the requests that go out, resent ones included; with a function of
    // its own, libcurl's verbose mode writes nothing anywhere. It formats a dozen messages a
    // call, so it is on only while someone counts (countRequests).
    curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &Impl::onDebug);
    curl_easy_setopt(easy, CURLOPT_DEBUGDATA, &impl_->main);
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    // A payload reply of hundreds of megabytes arrives in far fewer, larger pieces than through
    // libcurl's 16 KiB default: measured on loopback, a 200 MiB reply kept in memory took a
    // third less time. Small replies never fill it, and it is held once per connection.
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    if (curlSpeaksOpenSsl()) {
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Impl::onSslContext);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, impl_.get());
    }
    impl_->applyTrustCache();
}

void HttpTransport::trustCertificateAuthorities(const std::filesystem::path& file,
                                                std::string_view origin) {
    ExtraTrust trust;
    if (!file.empty()) {
        if (!curlSpeaksOpenSsl()) {
            throw Error(err::InvalidArgument,
                        "The certificate file " + file.string() + " named by " +
                            std::string(origin) +
                            " cannot be used: this computer's libcurl does not use OpenSSL",
                        "HttpTransport");
        }
        trust.add(file, origin);
    }
    impl_->settingTrust = std::move(trust);
    impl_->applyTrustCache();
}

HttpTransport::~HttpTransport() {
    // The worker ends before anything its transfers read (the trust, the multi handle) goes.
    impl_->aheadWorker.reset();
}

void HttpTransport::setProxy(const std::string& hostPort) {
    impl_->proxy = hostPort.empty() ? std::string() : "http://" + hostPort;
    curl_easy_setopt(impl_->easy.get(), CURLOPT_PROXY, impl_->proxy.c_str());
}

void HttpTransport::setProxyCredentials(const std::string& user, const std::string& password) {
    CURL* easy = impl_->easy.get();
    if (user.empty()) {
        curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, nullptr);
        curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, nullptr);
        curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_NONE);
        return;
    }
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, user.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, password.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_BASIC);
}

void HttpTransport::setTimeout(std::chrono::milliseconds timeout) {
    const auto ms = std::clamp<long long>(timeout.count(), 1, std::numeric_limits<long>::max());
    impl_->timeoutMs = static_cast<long>(ms);
    curl_easy_setopt(impl_->easy.get(), CURLOPT_TIMEOUT_MS, impl_->timeoutMs);
}

void HttpTransport::setMaxReplyBytes(std::uint64_t bytes) {
    const auto limit = static_cast<curl_off_t>(std::min<std::uint64_t>(
        bytes, static_cast<std::uint64_t>(std::numeric_limits<curl_off_t>::max())));
    curl_easy_setopt(impl_->easy.get(), CURLOPT_MAXFILESIZE_LARGE, limit);
}

void HttpTransport::countRequests(bool on) {
    curl_easy_setopt(impl_->easy.get(), CURLOPT_VERBOSE, on ? 1L : 0L);
}

void HttpTransport::setWaitHook(std::function<void()> hook) {
    if (hook && !impl_->waitingMulti) {
        impl_->waitingMulti.reset(curl_multi_init());
        if (!impl_->waitingMulti)
            throw Error(err::OutOfMemory, "Cannot create an HTTP client", "SoapClient");
    }
    impl_->waitHook = std::move(hook);
}

namespace {

// The header list of a post; libcurl keeps only the pointer, so it must live as long as the
// handle uses it.
curl_slist* soapHeaders(std::string_view soapAction) {
    std::string action = "SOAPAction: \"";
    action += soapAction;
    action += '"';
    const std::string acceptEncoding = "Accept-Encoding: " + std::string(ContentDecoding::kOffered);
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Content-Type: text/xml; charset=utf-8");
    if (headers != nullptr) headers = curl_slist_append(headers, action.c_str());
    if (headers != nullptr) headers = curl_slist_append(headers, kUserAgentHeader);
    // XML and Base64 shrink well, and most of a wait on a company line is the transfer. Only
    // gzip and deflate are offered: a server that prefers brotli (cpp-httplib does) costs
    // more time compressing than a LAN link saves.
    if (headers != nullptr) headers = curl_slist_append(headers, acceptEncoding.c_str());
    // A server that does not answer "100 Continue" would otherwise cost every large
    // request a wait of a second.
    if (headers != nullptr) headers = curl_slist_append(headers, "Expect:");
    if (headers == nullptr) throw Error(err::OutOfMemory, "Out of memory", "SoapClient");
    return headers;
}

}  // namespace

HttpTransport::Result HttpTransport::post(const std::string& url, std::string_view soapAction,
                                          std::string_view body, BodySink& sink) {
    CURL* easy = impl_->easy.get();
    // Successive calls mostly go to the same address with the same action; setting either
    // makes libcurl parse it again.
    if (!impl_->headers || impl_->soapAction != soapAction) {
        impl_->headers.reset(soapHeaders(soapAction));
        impl_->soapAction = soapAction;
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, impl_->headers.get());
    }
    if (impl_->url != url) {
        impl_->url = url;
        curl_easy_setopt(easy, CURLOPT_URL, impl_->url.c_str());
    }
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));

    const bool https = startsWithIgnoringAsciiCase(url, "https://");
    if (https) impl_->readEnvironmentTrustOnce();
    if (https && !impl_->environmentTrustProblem.empty()) {
        Result refused;
        refused.outcome = Outcome::ConnectionFailed;
        refused.errorText = impl_->environmentTrustProblem;
        return refused;
    }

    Transfer& transfer = impl_->main;
    transfer.reset(sink);
    const CURLcode code = impl_->waitHook
                              ? performWhileWaiting(easy, impl_->waitingMulti.get(),
                                                    impl_->waitHook, std::chrono::milliseconds(50))
                              : curl_easy_perform(easy);
    transfer.sink = nullptr;
    if (transfer.sinkFailure) std::rethrow_exception(std::exchange(transfer.sinkFailure, nullptr));
    return resultOf(transfer, code, https);
}

HttpTransport::Result HttpTransport::resultOf(Transfer& transfer, int rawCode, bool https) {
    // A body that would not inflate ended the transfer here; it fails as a cut in a compressed
    // stream does.
    const auto code =
        transfer.badEncoding ? CURLE_BAD_CONTENT_ENCODING : static_cast<CURLcode>(rawCode);
    CURL* easy = transfer.easy;
    Result result;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &result.httpStatus);
    curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &result.proxyConnectStatus);
    result.statusLine = transfer.statusLine;
    result.retryAfter = transfer.retryAfter;
    result.errorText = transfer.badEncoding              ? transfer.decoding.why()
                       : transfer.errorBuffer[0] != '\0' ? std::string(transfer.errorBuffer)
                                                         : std::string(curl_easy_strerror(code));
    result.lostBeforeReply = lostBeforeReply(easy, code) && transfer.statusLine.empty();
    result.cutPartway = !transfer.statusLine.empty() && !transfer.aborted && cutPartway(code);
    result.requestsSent = transfer.requestsSent;
    curl_off_t firstByte = 0;
    if (curl_easy_getinfo(easy, CURLINFO_STARTTRANSFER_TIME_T, &firstByte) == CURLE_OK)
        result.firstByte = std::chrono::microseconds(firstByte);
    countBytes(easy, result);
    switch (code) {
        case CURLE_OK:
            result.outcome = Outcome::Completed;
            break;
        case CURLE_WRITE_ERROR:
            result.outcome = transfer.overInflated ? Outcome::OverInflated
                             : transfer.aborted    ? Outcome::Aborted
                                                   : Outcome::ConnectionFailed;
            break;
        case CURLE_OPERATION_TIMEDOUT:
            result.outcome = Outcome::TimedOut;
            break;
        case CURLE_PARTIAL_FILE:
        case CURLE_BAD_CONTENT_ENCODING:
            result.outcome = Outcome::Truncated;
            break;
        case CURLE_FILESIZE_EXCEEDED:
            result.outcome = Outcome::TooLarge;
            break;
        default:
            result.outcome = Outcome::ConnectionFailed;
            break;
    }
    if (code == CURLE_OK) {
        result.errorText.clear();
    } else if (transfer.overInflated) {
        result.errorText = "The reply inflated from " + std::to_string(transfer.received) +
                           " bytes to more than " + std::to_string(transfer.inflated) + " bytes" +
                           ", more than " + std::to_string(kMaxInflation) +
                           " times its compressed size";
    } else {
        long verifyResult = 0;
        curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
        std::string words = describeTlsFailure(code, verifyResult, result.errorText, https);
        if (!words.empty()) result.errorText = std::move(words);
    }
    return result;
}

struct HttpTransport::PendingPost::State {
    PostWorker* worker = nullptr;
    std::unique_ptr<CURL, EasyFree> easy;
    std::unique_ptr<curl_slist, SlistFree> headers;
    std::string body;
    bool https = false;
    Transfer transfer;
    PostWorker::Post post;
};

HttpTransport::PendingPost::PendingPost(std::unique_ptr<State> state) : state_(std::move(state)) {}

HttpTransport::PendingPost::~PendingPost() {
    // A post nobody waits for any more ends here, its connection with it if it was under way.
    state_->worker->withdraw(state_->post);
}

std::unique_ptr<HttpTransport::PendingPost> HttpTransport::startPost(const std::string& url,
                                                                     std::string_view soapAction,
                                                                     std::string body,
                                                                     BodySink& sink) {
    const bool https = startsWithIgnoringAsciiCase(url, "https://");
    // Read here, on the caller's thread: the worker's handshakes only ever read the trust.
    if (https) impl_->readEnvironmentTrustOnce();
    if (https && !impl_->environmentTrustProblem.empty()) return nullptr;
    if (!impl_->aheadWorker) {
        if (!impl_->aheadMulti) {
            impl_->aheadMulti.reset(curl_multi_init());
            if (!impl_->aheadMulti) return nullptr;
            // Each post ahead keeps its own connection; without a cache this large they would
            // close and reopen as posts come and go.
            curl_multi_setopt(impl_->aheadMulti.get(), CURLMOPT_MAXCONNECTS, 32L);
        }
        impl_->aheadWorker = std::make_unique<PostWorker>(impl_->aheadMulti.get());
    }
    auto state = std::make_unique<PendingPost::State>();
    state->worker = impl_->aheadWorker.get();
    // The copy carries every setting of the transport: proxy, credentials, trust, limits.
    state->easy.reset(curl_easy_duphandle(impl_->easy.get()));
    if (!state->easy) return nullptr;
    CURL* easy = state->easy.get();
    state->headers.reset(soapHeaders(soapAction));
    state->body = std::move(body);
    state->https = https;
    Transfer& transfer = state->transfer;
    transfer.easy = easy;
    transfer.reset(sink);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.errorBuffer);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_DEBUGDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, state->headers.get());
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, state->body.data());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(state->body.size()));
    // A post ahead may wait long for its call; the call's own time-out starts when it is made
    // (finishPost), so only making the connection is bounded here.
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, 0L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, impl_->timeoutMs);
    // A whole reply is handed to the sink on the worker, so that it can be read there while
    // this thread works on the replies before it.
    state->post.completion = [&transfer](CURLcode code) {
        if (code != CURLE_OK || transfer.sinkFailure) return;
        try {
            transfer.sink->complete();
        } catch (...) {
            transfer.sinkFailure = std::current_exception();
        }
    };
    state->worker->start(state->post, easy);
    return std::unique_ptr<PendingPost>(new PendingPost(std::move(state)));
}

HttpTransport::Result HttpTransport::finishPost(PendingPost& post,
                                                std::chrono::milliseconds timeout) {
    PendingPost::State& state = *post.state_;
    Transfer& transfer = state.transfer;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto deadline = start + timeout;
    constexpr std::chrono::milliseconds kHookInterval{50};
    auto nextHook = start + kHookInterval;
    bool done = false;
    while (true) {
        const auto until = impl_->waitHook ? std::min(deadline, nextHook) : deadline;
        done = state.worker->waitFor(state.post, until);
        if (done || Clock::now() >= deadline) break;
        impl_->waitHook();
        nextHook = Clock::now() + kHookInterval;
    }
    // The worker lets go of a post that has not ended in time; from here on its handle and
    // transfer are this thread's.
    if (!done) done = state.worker->withdraw(state.post);
    transfer.sink = nullptr;
    if (transfer.sinkFailure) std::rethrow_exception(std::exchange(transfer.sinkFailure, nullptr));
    if (!done) {
        curl_off_t received = 0;
        curl_easy_getinfo(state.easy.get(), CURLINFO_SIZE_DOWNLOAD_T, &received);
        Result result;
        result.outcome = Outcome::TimedOut;
        curl_easy_getinfo(state.easy.get(), CURLINFO_RESPONSE_CODE, &result.httpStatus);
        result.statusLine = transfer.statusLine;
        countBytes(state.easy.get(), result);
        result.lostBeforeReply = transfer.statusLine.empty() &&
                                 lostBeforeReply(state.easy.get(), CURLE_OPERATION_TIMEDOUT);
        result.cutPartway = !transfer.statusLine.empty();
        result.requestsSent = transfer.requestsSent;
        result.errorText = "Operation timed out after " + std::to_string(timeout.count()) +
                           " milliseconds with " + std::to_string(received) + " bytes received";
        return result;
    }
    return resultOf(transfer, state.post.code(), state.https);
}

bool HttpTransport::awaitReplyStart(PendingPost& post, std::chrono::milliseconds wait) {
    PendingPost::State& state = *post.state_;
    using Clock = std::chrono::steady_clock;
    constexpr std::chrono::milliseconds kLook{20};
    constexpr std::chrono::milliseconds kHookInterval{50};
    const auto until = Clock::now() + wait;
    auto nextHook = Clock::now() + kHookInterval;
    while (!state.transfer.replyBegun) {
        const auto now = Clock::now();
        if (now >= until) return false;
        if (state.worker->waitFor(state.post, std::min(until, now + kLook))) return true;
        if (impl_->waitHook && Clock::now() >= nextHook) {
            impl_->waitHook();
            nextHook = Clock::now() + kHookInterval;
        }
    }
    return true;
}

bool HttpTransport::replyBegun(const PendingPost& post) {
    return post.state_->transfer.replyBegun;
}

void HttpTransport::closeAheadConnections() {
    impl_->aheadWorker.reset();
    impl_->aheadMulti.reset();
}

void HttpTransport::pause(std::chrono::milliseconds duration) {
    using Clock = std::chrono::steady_clock;
    constexpr std::chrono::milliseconds kHookInterval{50};
    // Posts started ahead go on meanwhile, on their worker.
    const auto until = Clock::now() + duration;
    auto nextHook = Clock::now() + kHookInterval;
    for (auto now = Clock::now(); now < until; now = Clock::now()) {
        std::this_thread::sleep_for(std::min(until, nextHook) - now);
        if (impl_->waitHook && Clock::now() >= nextHook) {
            impl_->waitHook();
            nextHook = Clock::now() + kHookInterval;
        }
    }
}

}  // namespace ovk::soap
