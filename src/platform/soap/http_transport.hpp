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
    // Replies whose announced length exceeds this are refused before their body is read.
    void setMaxReplyBytes(std::uint64_t bytes);
    // Called about every 50 ms while a call waits for the network, so that the caller's windows
    // can repaint; empty for none. It must not throw and must not start another call.
    void setWaitHook(std::function<void()> hook);

    // Receives the reply body piece by piece; returning false ends the transfer.
    class BodySink {
      public:
        virtual ~BodySink() = default;
        virtual bool receive(const char* data, std::size_t size, long httpStatus) = 0;
    };

    enum class Outcome {
        Completed,  // a whole HTTP reply arrived (any status)
        Aborted,    // the sink ended the transfer
        TimedOut,
        Truncated,  // the connection ended before the announced body did
        TooLarge,   // the announced length is over the limit
        ConnectionFailed,
    };

    struct Result {
        Outcome outcome = Outcome::Completed;
        long httpStatus = 0;          // 0 when no reply header arrived
        long proxyConnectStatus = 0;  // the proxy's answer to CONNECT (https through a proxy)
        std::string statusLine;       // "HTTP/1.1 500 Internal Server Error"
        std::string errorText;        // libcurl's explanation when the transfer failed
    };

    Result post(const std::string& url, std::string_view soapAction, std::string_view body,
                BodySink& sink);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ovk::soap
