// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "soap/call_trace.hpp"
#include "soap/http_transport.hpp"
#include "soap/retry_policy.hpp"
#include "soap/service_client.hpp"
#include "soap/streamed_reply.hpp"

namespace ovk::soap {

class ServiceDescription;
struct OperationInfo;

// What a call can end in besides a reply or the service's own fault. Each leaves the
// error number and the fault code of its row in one table (soap_client.cpp).
enum class CallFailure {
    NoDescription,
    BadCall,
    BadProperty,
    Connection,
    ProxyRefused,
    HttpStatus,
    Timeout,
    MalformedReply,
    ReplyTooLarge,
};

// Limits of a SoapClient that a host or a test may want to change.
struct SoapClientOptions {
    // Replies larger than this are refused (err::SoapReplyTooLarge) and their transfer ended.
    // Room for a 1 GiB document, which travels as 1.4 GB of Base64.
    std::uint64_t maxReplyBytes = std::uint64_t{2} << 30;
    // The bound of a call whose "Timeout" is 0 or less, or was never set: a call never waits
    // forever.
    std::chrono::milliseconds defaultTimeout{180000};
    // Which failed calls are made again, how often and after what wait.
    RetryPolicy retry;
};

// The service client of the component: a dynamic SOAP 1.1 client driven by a WSDL file, talking
// HTTP or HTTPS through libcurl.
//
// - Operations are found by name in the description's SOAP 1.1 binding (document/literal,
//   wrapped or bare, and rpc/literal or rpc/encoded). Arguments are written in XML Schema
//   lexical form, in the order of the request's parameters.
// - Connector properties (names compared without regard to case):
//   "EndPointURL"  text, an http:// or https:// address; replaces the description's end point.
//   "ProxyServer"  text "host:port" of an HTTP proxy; empty for none. Proxy variables of the
//                  environment are never used.
//   "AuthUser", "AuthPassword"  text, the proxy's basic credentials (sent only with a user).
//                  They go to the proxy alone: an https:// end point is reached through a
//                  CONNECT tunnel, and nothing of them travels inside it.
//   "CAFile"       text, a PEM file (or one DER certificate) of certificate authorities
//                  trusted besides the system's and those named by SSL_CERT_FILE and
//                  CURL_CA_BUNDLE; empty for none. A file that cannot be read or holds no
//                  certificate fails the property at once.
//   "Timeout"      number, milliseconds for each attempt of a call. 0 or less does not mean "wait
//                  forever": it means the default bound (180000 ms unless the options say
//                  otherwise), and so does a client whose time-out was never set.
// - One HTTP connection is kept alive and reused from call to call. Calls announced through
//   prefetch() are posted ahead on further keep-alive connections, each started when an earlier
//   call is made or has got its reply, while at most setMaxRequestsInFlight() requests are under
//   way (a call made again counts among them). A worker thread receives the replies fetched
//   ahead and reads each into its tree as it arrives, so that the caller's thread only takes
//   them; a reply fetched ahead goes through the same checks as any other, and its time-out,
//   reading included, counts from its call. A streamed call that takes a reply fetched ahead
//   walks that tree.
//   A server may serve one connection at a time, or refuse more (HTTP allows both): unless
//   two replies fetched ahead have been seen under way at once, a call whose reply fetched
//   ahead has not begun within a second (or twice the longest any reply took to begin), or
//   whose post ahead the network lost, is made anew on
//   the client's own connection, and nothing is fetched ahead from then on, until
//   setMaxRequestsInFlight() is called again; the connections fetching ahead kept are closed,
//   so that none sits idle while the server waits for it.
// - A reply is collected whole (at most maxReplyBytes; more ends the transfer at once) and then
//   parsed in one piece, so its verdict never depends on how the network split it. Its tree
//   may nest at most 256 levels and take at most its own size plus 56 MiB (ReplyLimits); a
//   reply over either limit is SoapReplyTooLarge, naming the limit. The time-out covers the
//   parsing too. Fault strings are cut to a few KiB with "…".
// - A call that the network lost before any reply byte (refused, reset, not connected in time,
//   closed without a word) or cut partway through its reply (reset, closed or timed out inside
//   it, shorter than announced), or that a server answered 502, 503 or 504, is made again, at
//   most setRetryAttempts() times (default 3), after the waits of RetryPolicy; every attempt has
//   the whole time-out. A call fetched ahead is made again the same way, by its own caller, so
//   replies still come in the order of the calls. When the attempts are spent, the last
//   failure is reported as it would have been without them, and attemptsMade() tells how many
//   there were. Nothing else is repeated by this client; libcurl itself sends a request once
//   more when a kept-alive connection proves closed before any byte of the reply, which a trace
//   shows as an attempt "resent".
// - Replies may come compressed (gzip or deflate are offered); every limit counts the inflated
//   bytes, and the transfer of a reply that inflates past maxReplyBytes ends there.
// - Every call sets the three fault texts; a successful one clears them. Failures throw Error:
//   SoapFault (code, string, actor from the fault; a fault without actor names the end point),
//   SoapHttpStatus (any status but 200 without a fault; redirects are not followed),
//   SoapConnection (also a proxy answering 407; a 401 through a proxy stays SoapHttpStatus,
//   as some proxies use it for wrong credentials, and says so), SoapTimeout, SoapMalformedReply
//   (not well-formed, not an envelope, truncated, or carrying a DOCTYPE), SoapReplyTooLarge,
//   SoapBadCall (unknown operation, wrong number of arguments, text XML cannot carry), SoapWsdl (no
//   usable description). For failures that are not SOAP faults the fault code is "Client.<Kind>",
//   the fault string the transport's or parser's explanation, and the fault actor the end point.
//   The proxy password never appears in any of them.
// - Over https:// the service's certificate is always verified, issuer and host name. A refused
//   handshake is SoapConnection whose fault string says why in plain words (untrusted issuer,
//   another host name, expired, no TLS spoken). A proxy refusing the CONNECT tunnel, with 407 or
//   401, is SoapConnection "Client.ProxyAuthentication": only the proxy can have answered.
class SoapClient : public ServiceClient {
  public:
    explicit SoapClient(SoapClientOptions options = {});
    ~SoapClient() override;
    SoapClient(const SoapClient&) = delete;
    SoapClient& operator=(const SoapClient&) = delete;

    void initialize(const std::filesystem::path& wsdlPath) override;
    void setProperty(std::string_view name, const PropertyValue& value) override;

    std::string faultCode() const override { return faultCode_; }
    std::string faultString() const override { return faultString_; }
    std::string faultActor() const override { return faultActor_; }

    std::string callText(std::string_view operation, const std::vector<Argument>& args) override;
    std::optional<xml::NodeList> call(std::string_view operation,
                                      const std::vector<Argument>& args) override;
    // Reads the reply straight from its bytes, without the bound on a reply's tree: the
    // receiver bounds what it keeps. Faults and references to other body entries go through
    // the tree as in call().
    bool callStreamed(std::string_view operation, const std::vector<Argument>& args,
                      xml::ElementEvents& events) override;
    // The item's content is never held: the size bound of replies does not apply to an item
    // read as it arrives. A reply fetched ahead is kept only up to kMostAheadBytes; a larger
    // one is asked for again when its call comes, and then read as it arrives.
    ItemReply callItem(std::string_view operation, const std::vector<Argument>& args,
                       std::string_view item, ItemReceiver& receiver) override;
    bool readsItemsAsTheyArrive() const override { return true; }

    // Calls announced through prefetch() are fetched ahead on further keep-alive connections
    // while earlier calls wait and their callers work; at most `requests` are in flight at
    // once, the waiting call included (1 to 16; 1 fetches nothing ahead).
    void setMaxRequestsInFlight(int requests) override;
    void prefetch(std::string_view operation, const std::vector<Argument>& args) override;
    void dropPrefetched() override;

    // How many times a transiently failed call is made again (0 to RetryPolicy::kMostAttempts;
    // 0 makes every call once).
    void setRetryAttempts(int attempts) override;
    // How many attempts the last call made (0 when it failed before posting).
    int attemptsMade() const override { return attemptsMade_; }
    // Writes every attempt of every call to `trace` (nothing: no trace). The proxy's
    // credentials, set before or after, are among the trace's secrets.
    void setTrace(std::shared_ptr<CallTrace> trace) override;

    void setMaxReplyBytes(std::uint64_t bytes);
    void setDefaultTimeout(std::chrono::milliseconds timeout);
    // Called about every 50 ms while a call waits for the service or reads a large reply (a
    // desktop lets its windows paint there). It must not throw. A call it starts on this client
    // fails with SoapBadCall instead of disturbing the one in progress.
    void setWaitHook(std::function<void()> hook);

    // The end point calls go to: the "EndPointURL" property, else the description's address.
    std::string endpoint() const;
    // The description read by initialize(), or nothing.
    const ServiceDescription* description() const { return description_.get(); }

  private:
    static constexpr int kMostRequestsInFlight = 16;
    // What a reply fetched ahead may take in memory while earlier calls are worked on.
    static constexpr std::uint64_t kMostAheadBytes = std::uint64_t{16} << 20;
    // How long a call waits for the first byte of its reply fetched ahead before it takes the
    // server for one that serves a single connection at a time.
    static constexpr std::chrono::milliseconds kAheadFirstByte{1000};
    struct Reply;
    // A request ready to post, or why it cannot be made.
    struct Request {
        const OperationInfo* op = nullptr;
        std::string envelope;
        std::string url;
        std::optional<CallFailure> failure;
        std::string failureText;
    };
    struct Ahead;
    // One call on the wire, from its first attempt to the reply it ended with.
    struct Exchange;
    // The item an item call wants read as it arrives.
    struct ItemTarget {
        std::string_view item;
        ItemReceiver* receiver = nullptr;
    };
    Request prepare(std::string_view operation, const std::vector<Argument>& args) const;
    // The post started ahead for this request, with the next ones started up to the bound; or
    // nothing, and the call posts as usual.
    std::unique_ptr<Ahead> takeAhead(const Request& request);
    // Starts the announced posts not yet under way, up to the bound.
    void startAhead();
    // Fetches nothing ahead any more, until setMaxRequestsInFlight() says otherwise, and frees
    // the connections that fetching ahead kept.
    void fetchOneAtATime();
    // With `streamed`, a plain reply goes to it as it is read and the Reply holds no document.
    // With `item`, an item's content goes to its receiver as it arrives and the Reply holds no
    // document.
    Reply invoke(std::string_view operation, const std::vector<Argument>& args,
                 xml::ElementEvents* streamed = nullptr, const ItemTarget* item = nullptr);
    // The steps of invoke(), in their order.
    Request beginCall(std::string_view operation, const std::vector<Argument>& args,
                      const std::string& source);
    void openExchange(const Request& request, Exchange& exchange);
    void postWithRetries(const Request& request, const std::vector<Argument>& args,
                         const std::string& source, Exchange& exchange);
    bool finishAhead(const std::vector<Argument>& args, const std::string& source,
                     Exchange& exchange);
    HttpTransport::Result postOwn(const Request& request, Exchange& exchange);
    void traceAttempt(const Request& request, const std::vector<Argument>& args,
                      const std::string& source, int attempt, Exchange& exchange);
    void checkTransfer(const Exchange& exchange, const std::string& source);
    std::optional<StreamedReply> readStreamed(const Exchange& exchange, const OperationInfo& op,
                                              xml::ElementEvents& events,
                                              const std::string& source);
    Reply readTree(Exchange& exchange, const Request& request, const std::string& source);
    // Reads what an item's reply held around the item, as readTree reads a whole reply.
    void readAroundItem(Exchange& exchange, const Request& request, const std::string& source);
    // Once this call has its reply, the one after the ones in flight is started before the
    // caller works on it.
    void startNextAhead(const Exchange& exchange);

    // Leaves the failure's fault texts (the end point as their actor) and throws its Error.
    [[noreturn]] void throwClientFault(CallFailure failure, const std::string& text,
                                       const std::string& source);
    [[noreturn]] void throwHttpStatus(const HttpTransport::Result& result,
                                      const std::string& source);
    [[noreturn]] void throwProxyRefused(const HttpTransport::Result& result,
                                        const std::string& source);
    // Called while an exception from reading a reply is being handled: throws the fault it
    // stands for. What the receiver of a streamed reply throws of its own passes unchanged.
    [[noreturn]] void throwReadFailure(const HttpTransport::Result& result,
                                       const std::string& source, bool toReceiver);
    void clearFault();
    // Sets the transport's bound and returns it: the whole call, parsing included, keeps to it.
    std::chrono::milliseconds applyTimeout();

    SoapClientOptions options_;
    std::unique_ptr<ServiceDescription> description_;
    std::unique_ptr<HttpTransport> transport_;
    std::function<void()> waitHook_;
    std::string endpointOverride_;
    std::string proxyServer_;
    std::string authUser_;
    std::string authPassword_;
    double timeoutMs_ = 0;
    bool calling_ = false;  // a call is waiting for its reply
    int attemptsMade_ = 0;
    std::string faultCode_;
    std::string faultString_;
    std::string faultActor_;
    int maxRequestsInFlight_ = 1;
    // Two replies fetched ahead were seen under way at once: the server serves several
    // connections, and a reply that is slow to begin is only slow.
    bool servedConcurrently_ = false;
    // The longest any reply took to begin, which bounds how long one fetched ahead may.
    std::chrono::microseconds slowestFirstByte_{0};
    std::shared_ptr<CallTrace> trace_;
    std::minstd_rand random_;  // spreads the waits between attempts
    // Declared last, so that posts ahead end before the transport goes.
    std::deque<std::unique_ptr<Ahead>> ahead_;
};

}  // namespace ovk::soap
