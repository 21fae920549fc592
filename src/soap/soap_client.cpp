// SPDX-License-Identifier: MIT
#include "soap/soap_client.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <exception>
#include <limits>

#include "platform/errors.hpp"
#include "platform/text.hpp"
#include "soap/envelope.hpp"
#include "soap/http_transport.hpp"
#include "soap/reply_envelope.hpp"
#include "soap/reply_parser.hpp"
#include "soap/reply_stream.hpp"
#include "soap/service_description.hpp"
#include "soap/streamed_reply.hpp"

namespace ovk::soap {

namespace {

constexpr const char* kPropertySource = "SoapClient";

bool hasSpaceOrControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7F;
    });
}

// The address without user information, so that a password written into the URL never
// reaches a fault text.
std::string withoutCredentials(const std::string& url) {
    const auto scheme = url.find("://");
    if (scheme == std::string::npos) return url;
    const auto authorityStart = scheme + 3;
    const auto authorityEnd = url.find_first_of("/?#", authorityStart);
    const auto at =
        url.rfind('@', authorityEnd == std::string::npos ? std::string::npos : authorityEnd - 1);
    if (at == std::string::npos || at < authorityStart) return url;
    return url.substr(0, authorityStart) + url.substr(at + 1);
}

bool isValidEndpoint(const std::string& url) {
    std::size_t hostStart;
    if (startsWithIgnoringAsciiCase(url, "http://")) {
        hostStart = 7;
    } else if (startsWithIgnoringAsciiCase(url, "https://")) {
        hostStart = 8;
    } else {
        return false;
    }
    return url.size() > hostStart && url[hostStart] != '/' && !hasSpaceOrControl(url);
}

// "host:port", "host" or "[v6]:port"; credentials belong in AuthUser/AuthPassword, where they
// are kept out of every message.
bool isValidProxy(const std::string& value) {
    if (value.empty()) return true;
    if (hasSpaceOrControl(value) || value.find_first_of("@/?#") != std::string::npos) return false;
    std::string_view hostPort(value);
    std::size_t portColon;
    if (hostPort.front() == '[') {
        const auto close = hostPort.find(']');
        if (close == std::string_view::npos || close == 1) return false;
        portColon = close + 1 < hostPort.size() ? close + 1 : std::string_view::npos;
        if (portColon != std::string_view::npos && hostPort[portColon] != ':') return false;
    } else {
        portColon = hostPort.find(':');
        if (portColon == 0) return false;
        if (portColon != std::string_view::npos &&
            hostPort.find(':', portColon + 1) != std::string_view::npos) {
            return false;
        }
    }
    if (portColon == std::string_view::npos) return true;
    const std::string_view port = hostPort.substr(portColon + 1);
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    return std::stoul(std::string(port)) <= 65535;
}

// Keeps the reply body for the parser while counting it against the size limit; a reply over
// the limit ends the transfer at once.
class ReplySink : public HttpTransport::BodySink {
  public:
    // With `copyForTrace`, the first kMostTraced bytes are also kept as text for a trace.
    // With `stream`, a reply that holds an item goes to it as it arrives instead, unbounded.
    explicit ReplySink(std::uint64_t limit, bool copyForTrace = false,
                       ReplyStream* stream = nullptr)
        : limit_(limit), copyForTrace_(copyForTrace), stream_(stream) {}

    bool receive(const char* data, std::size_t size, long status) override {
        if (stream_ != nullptr && status == 200 &&
            stream_->verdict() != ReplyStream::Verdict::Declined) {
            streamed_ += size;
            if (copyForTrace_ && copy_.size() < kMostTraced)
                copy_.append(data, std::min(size, kMostTraced - copy_.size()));
            if (stream_->feed(std::string_view(data, size)) != ReplyStream::Verdict::Declined)
                return true;
            copyForTrace_ = false;  // copied already
            const std::string held = stream_->takeBack();
            return keep(held.data(), held.size());
        }
        return keep(data, size);
    }

    // An item's reply that never showed its item is read whole after all.
    void settle() {
        if (stream_ == nullptr || stream_->verdict() != ReplyStream::Verdict::Undecided) return;
        const std::string held = stream_->takeBack();
        copyForTrace_ = false;
        if (!keep(held.data(), held.size())) throw Error(err::OutOfMemory, "Out of memory");
    }
    bool itemStreamed() const {
        return stream_ != nullptr && stream_->verdict() == ReplyStream::Verdict::Streaming;
    }

    bool keep(const char* data, std::size_t size) {
        if (size > limit_ - std::min(limit_, parser_.size())) {
            tooLarge_ = true;
            return false;
        }
        if (!parser_.feed(data, size)) throw Error(err::OutOfMemory, "Out of memory");
        if (copyForTrace_ && copy_.size() < kMostTraced)
            copy_.append(data, std::min(size, kMostTraced - copy_.size()));
        return true;
    }

    void expect(std::uint64_t length) override {
        // A reply announced over the limit is refused before its body; within it, the
        // buffers are made that large at once, unless it may be an item read as it arrives.
        if (length <= limit_ && stream_ == nullptr) parser_.expect(length);
    }

    // A reply fetched ahead is read on the worker that fetched it, while the caller still works
    // on the replies before it; its call takes the tree, or what reading it ended in.
    void complete() override {
        try {
            parsed_.emplace(parser_.finish());
        } catch (...) {
            parseFailure_ = std::current_exception();
        }
        parsedAhead_ = true;
    }
    bool parsedAhead() const { return parsedAhead_; }
    // The reply's tree, read now unless it was read ahead; the parse ends by `deadline` either
    // way. Throws what reading it throws.
    xml::Document takeDocument(std::chrono::steady_clock::time_point deadline) {
        if (!parsedAhead_) return parser_.finish(deadline);
        if (parseFailure_) std::rethrow_exception(parseFailure_);
        return std::move(*parsed_);
    }
    // Ends a read ahead that nobody will take, at its next look at the clock.
    void abandon() { parser_.limitTime(std::chrono::steady_clock::time_point::min()); }

    ReplyParser& parser() { return parser_; }
    bool tooLarge() const { return tooLarge_; }
    std::uint64_t limit() const { return limit_; }
    // The inflated bytes received.
    std::uint64_t size() const { return streamed_ + parser_.size(); }
    std::string tracedText() const {
        if (size() <= copy_.size()) return copy_;
        return copy_ + "… (" + std::to_string(size()) + " bytes in all)";
    }

  private:
    static constexpr std::size_t kMostTraced = std::size_t{1} << 20;
    ReplyParser parser_;
    std::uint64_t limit_;
    bool tooLarge_ = false;
    bool copyForTrace_;
    std::string copy_;
    bool parsedAhead_ = false;
    std::optional<xml::Document> parsed_;
    std::exception_ptr parseFailure_;
    ReplyStream* stream_;
    std::uint64_t streamed_ = 0;
};

// The argument a call is about, after the three that every project operation starts with: the
// article of GetItemData, the node key of GetSelectionData.
std::string tracedArgument(const std::vector<Argument>& args) {
    if (args.size() < 4) return {};
    const auto* text = std::get_if<std::string>(&args.back());
    return text != nullptr ? *text : std::string();
}

std::string attemptOutcome(const HttpTransport::Result& result) {
    // A reply cut short began with a status line that says nothing of why it ended.
    const bool byStatus = !result.statusLine.empty() && !result.cutPartway;
    return "retried: " + (byStatus ? result.statusLine : result.errorText);
}

std::string describeParseFailure(const xml::ParseFailure& failure) {
    std::string text = "The reply is not well-formed XML: " + failure.reason;
    if (failure.line > 0) {
        text += " (line " + std::to_string(failure.line);
        if (failure.position > 0) text += ", position " + std::to_string(failure.position);
        text += ')';
    }
    return text;
}

// Every failure of a call that is not the service's own fault, with the error it throws and the
// fault code it leaves: hosts read the code, the wizard the number.
struct ClientFault {
    CallFailure failure;
    int32_t number;
    const char* code;
};
using F = CallFailure;
constexpr ClientFault kClientFaults[] = {
    {F::NoDescription, err::SoapWsdl, "Client.WSDL"},
    {F::BadCall, err::SoapBadCall, "Client.BadCall"},
    {F::BadProperty, err::SoapBadProperty, "Client.Property"},
    {F::Connection, err::SoapConnection, "Client.Connection"},
    // Only the proxy can have refused: the service was never reached.
    {F::ProxyRefused, err::SoapConnection, "Client.ProxyAuthentication"},
    {F::HttpStatus, err::SoapHttpStatus, "Client.HttpStatus"},
    {F::Timeout, err::SoapTimeout, "Client.Timeout"},
    {F::MalformedReply, err::SoapMalformedReply, "Client.MalformedReply"},
    {F::ReplyTooLarge, err::SoapReplyTooLarge, "Client.ReplyTooLarge"},
};

const ClientFault& clientFault(CallFailure failure) {
    return *std::find_if(std::begin(kClientFaults), std::end(kClientFaults),
                         [&](const ClientFault& fault) { return fault.failure == failure; });
}

// The failure that an error thrown while reading a reply stands for. A bound of the receiver of a
// streamed reply is its own to report.
std::optional<CallFailure> readFailureOf(int32_t number, bool toReceiver) {
    switch (number) {
        case err::SoapTimeout:
            return F::Timeout;
        case err::SoapMalformedReply:
            return F::MalformedReply;
        case err::SoapReplyTooLarge:
            if (toReceiver) return std::nullopt;
            return F::ReplyTooLarge;
        default:
            return std::nullopt;
    }
}

}  // namespace

struct SoapClient::Reply {
    std::shared_ptr<const xml::Document> document;
    xml::Node returnElement;
    // Streamed calls only: what the reply held went to the receiver (Read or Empty).
    std::optional<StreamedReply> streamed;
    // Item calls only: the item's content went to its receiver.
    bool itemStreamed = false;
};

struct SoapClient::Ahead {
    Request request;
    // The sink goes after the post: the transfer writes into it until it ends.
    std::unique_ptr<ReplySink> sink;
    std::unique_ptr<HttpTransport::PendingPost> post;
};

SoapClient::SoapClient(SoapClientOptions options)
    : options_(options),
      transport_(std::make_unique<HttpTransport>()),
      random_(std::random_device{}()) {
    transport_->setMaxReplyBytes(options_.maxReplyBytes);
}

void SoapClient::setTrace(std::shared_ptr<CallTrace> trace) {
    trace_ = std::move(trace);
    // A trace tells of requests that libcurl sent again.
    transport_->countRequests(trace_ != nullptr);
    if (!trace_) return;
    trace_->addSecret(authUser_);
    trace_->addSecret(authPassword_);
}

void SoapClient::setRetryAttempts(int attempts) {
    options_.retry.attempts = std::clamp(attempts, 0, RetryPolicy::kMostAttempts);
}

SoapClient::~SoapClient() {
    // Posts ahead end before the transport they run on.
    dropPrefetched();
}

void SoapClient::setMaxReplyBytes(std::uint64_t bytes) {
    options_.maxReplyBytes = bytes;
    transport_->setMaxReplyBytes(bytes);
}

void SoapClient::setDefaultTimeout(std::chrono::milliseconds timeout) {
    options_.defaultTimeout = timeout;
}

void SoapClient::setWaitHook(std::function<void()> hook) {
    waitHook_ = hook;
    transport_->setWaitHook(std::move(hook));
}

std::string SoapClient::endpoint() const {
    if (!endpointOverride_.empty()) return endpointOverride_;
    return description_ ? description_->endpoint() : std::string();
}

void SoapClient::clearFault() {
    faultCode_.clear();
    faultString_.clear();
    faultActor_.clear();
}

void SoapClient::throwClientFault(CallFailure failure, const std::string& text,
                                  const std::string& source) {
    const ClientFault& fault = clientFault(failure);
    faultCode_ = fault.code;
    faultString_ = text;
    faultActor_ = withoutCredentials(endpoint());
    throw Error(fault.number, text, source);
}

void SoapClient::throwHttpStatus(const HttpTransport::Result& result, const std::string& source) {
    std::string text = result.statusLine.empty()
                           ? "HTTP status " + std::to_string(result.httpStatus)
                           : result.statusLine;
    // Some proxies (tinyproxy among them) answer wrong credentials with 401 rather than 407,
    // so through a proxy a 401 cannot be pinned on either side.
    if (result.httpStatus == 401 && !proxyServer_.empty())
        text += ": the service or the proxy refused the credentials";
    throwClientFault(CallFailure::HttpStatus, text, source);
}

void SoapClient::throwProxyRefused(const HttpTransport::Result& result, const std::string& source) {
    throwClientFault(
        CallFailure::ProxyRefused,
        (result.statusLine.empty() ? std::string("HTTP status 407") : result.statusLine) +
            ": the proxy refused the credentials",
        source);
}

void SoapClient::throwReadFailure(const HttpTransport::Result& result, const std::string& source,
                                  bool toReceiver) {
    try {
        throw;
    } catch (const ReplyTooDeep& e) {
        throwClientFault(CallFailure::ReplyTooLarge, e.description, source);
    } catch (const xml::ParseError& e) {
        // What is no envelope under another status than 200 is reported by that status.
        if (result.httpStatus != 200) throwHttpStatus(result, source);
        throwClientFault(CallFailure::MalformedReply, describeParseFailure(e.failure), source);
    } catch (const Error& e) {
        if (e.number == err::SoapMalformedReply && result.httpStatus != 200)
            throwHttpStatus(result, source);
        if (const auto failure = readFailureOf(e.number, toReceiver))
            throwClientFault(*failure, e.description, source);
        if (toReceiver) throw;
        throwClientFault(CallFailure::MalformedReply,
                         "The reply could not be read: " + e.description, source);
    } catch (...) {
        throwClientFault(CallFailure::MalformedReply,
                         "The reply could not be read: " + currentError().description, source);
    }
}

void SoapClient::initialize(const std::filesystem::path& wsdlPath) {
    dropPrefetched();
    clearFault();
    description_.reset();
    endpointOverride_.clear();
    try {
        description_ = std::make_unique<ServiceDescription>(ServiceDescription::load(wsdlPath));
    } catch (...) {
        const Error error = currentError();
        faultCode_ = clientFault(CallFailure::NoDescription).code;
        faultString_ = error.description;
        faultActor_ = wsdlPath.string();
    }
}

void SoapClient::setProperty(std::string_view name, const PropertyValue& value) {
    // Replies fetched ahead were asked for with the settings before this one.
    dropPrefetched();
    clearFault();
    const auto text = [&]() -> const std::string& {
        if (const auto* s = std::get_if<std::string>(&value)) return *s;
        throwClientFault(CallFailure::BadProperty,
                         "The connector property " + std::string(name) + " takes a text",
                         kPropertySource);
    };
    if (equalsIgnoringAsciiCase(name, "EndPointURL")) {
        const std::string& url = text();
        if (!isValidEndpoint(url)) {
            throwClientFault(CallFailure::BadProperty,
                             "EndPointURL must be an http:// or https:// address, not \"" +
                                 withoutCredentials(url) + "\"",
                             kPropertySource);
        }
        endpointOverride_ = url;
    } else if (equalsIgnoringAsciiCase(name, "ProxyServer")) {
        std::string proxy = text();
        // A proxy written as an address ("http://host:port") means the same host and port.
        if (startsWithIgnoringAsciiCase(proxy, "http://")) proxy.erase(0, 7);
        if (!isValidProxy(proxy)) {
            throwClientFault(CallFailure::BadProperty,
                             "ProxyServer must be host:port without credentials", kPropertySource);
        }
        proxyServer_ = proxy;
        transport_->setProxy(proxyServer_);
    } else if (equalsIgnoringAsciiCase(name, "AuthUser")) {
        authUser_ = text();
        transport_->setProxyCredentials(authUser_, authPassword_);
        if (trace_) trace_->addSecret(authUser_);
    } else if (equalsIgnoringAsciiCase(name, "AuthPassword")) {
        authPassword_ = text();
        transport_->setProxyCredentials(authUser_, authPassword_);
        if (trace_) trace_->addSecret(authPassword_);
    } else if (equalsIgnoringAsciiCase(name, "CAFile")) {
        const std::string& file = text();
        try {
            transport_->trustCertificateAuthorities(file, "the setting CAFile");
        } catch (...) {
            throwClientFault(CallFailure::BadProperty, currentError().description, kPropertySource);
        }
    } else if (equalsIgnoringAsciiCase(name, "Timeout")) {
        const auto* number = std::get_if<double>(&value);
        if (number == nullptr || !std::isfinite(*number)) {
            throwClientFault(CallFailure::BadProperty,
                             "Timeout takes a finite number of milliseconds", kPropertySource);
        }
        timeoutMs_ = *number;
    } else {
        throwClientFault(CallFailure::BadProperty,
                         "Unknown connector property \"" + std::string(name) + "\"",
                         kPropertySource);
    }
}

std::chrono::milliseconds SoapClient::applyTimeout() {
    std::chrono::milliseconds timeout = options_.defaultTimeout;
    if (timeoutMs_ > 0) {
        // A century stands for "no limit": longer would overflow the clock's nanoseconds when
        // the deadline is reckoned from now.
        constexpr double kLongest = 100.0 * 365 * 24 * 3600 * 1000;
        timeout = std::chrono::milliseconds(
            static_cast<long long>(std::min(std::ceil(timeoutMs_), kLongest)));
    }
    if (timeout.count() <= 0) timeout = SoapClientOptions{}.defaultTimeout;
    transport_->setTimeout(timeout);
    return timeout;
}

SoapClient::Request SoapClient::prepare(std::string_view operation,
                                        const std::vector<Argument>& args) const {
    Request request;
    const auto refuse = [&](CallFailure failure, std::string text) {
        request.failure = failure;
        request.failureText = std::move(text);
        return request;
    };
    if (!description_)
        return refuse(CallFailure::NoDescription, "The service description is not loaded");
    request.op = description_->find(operation);
    if (request.op == nullptr) {
        return refuse(CallFailure::BadCall,
                      "The service has no operation named \"" + std::string(operation) + "\"");
    }
    try {
        request.envelope = buildRequestEnvelope(*request.op, args);
    } catch (const Error& e) {
        return refuse(CallFailure::BadCall, e.description);
    }
    request.url = endpoint();
    if (request.url.empty()) return refuse(CallFailure::Connection, "No end point address is set");
    return request;
}

void SoapClient::setMaxRequestsInFlight(int requests) {
    maxRequestsInFlight_ = std::clamp(requests, 1, kMostRequestsInFlight);
    servedConcurrently_ = false;
    if (maxRequestsInFlight_ == 1) dropPrefetched();
}

void SoapClient::prefetch(std::string_view operation, const std::vector<Argument>& args) {
    if (maxRequestsInFlight_ <= 1) return;
    // A request that cannot be made is left to its call, which reports why.
    Request request = prepare(operation, args);
    if (request.failure) return;
    auto ahead = std::make_unique<Ahead>();
    ahead->request = std::move(request);
    ahead_.push_back(std::move(ahead));
}

void SoapClient::fetchOneAtATime() {
    maxRequestsInFlight_ = 1;
    dropPrefetched();
    transport_->closeAheadConnections();
}

void SoapClient::dropPrefetched() {
    // A reply being read on the worker stops at once rather than being read for nobody.
    for (const auto& ahead : ahead_)
        if (ahead->sink) ahead->sink->abandon();
    ahead_.clear();
}

void SoapClient::startAhead() {
    int started = 0;
    for (auto& ahead : ahead_) {
        if (started >= maxRequestsInFlight_) break;
        if (!ahead->post) {
            ahead->sink = std::make_unique<ReplySink>(
                std::min(options_.maxReplyBytes, kMostAheadBytes), trace_ && trace_->withBodies());
            ahead->post = transport_->startPost(ahead->request.url, ahead->request.op->soapAction,
                                                ahead->request.envelope, *ahead->sink);
            if (!ahead->post) break;
        }
        ++started;
    }
}

std::unique_ptr<SoapClient::Ahead> SoapClient::takeAhead(const Request& request) {
    const auto match = std::find_if(ahead_.begin(), ahead_.end(), [&](const auto& ahead) {
        return ahead->request.url == request.url && ahead->request.envelope == request.envelope;
    });
    if (match == ahead_.end()) return nullptr;
    // Requests announced before this one were never made; their replies are of no use.
    ahead_.erase(ahead_.begin(), match);
    // This call and the ones to come share the bound while it waits, and while it is made
    // again; the next ones are already on their way.
    startAhead();
    std::unique_ptr<Ahead> taken = std::move(ahead_.front());
    ahead_.pop_front();
    if (!taken->post) return nullptr;
    return taken;
}

struct SoapClient::Exchange {
    std::chrono::milliseconds timeout{0};
    // Each attempt has the whole time-out, parsing included.
    std::chrono::steady_clock::time_point deadline;
    std::unique_ptr<Ahead> ahead;
    std::optional<ReplySink> ownSink;
    ReplySink* sink = nullptr;
    HttpTransport::Result result;
    // The last attempt is traced when the call ends, parsing included, with what the call
    // ended in.
    std::optional<CallTrace::Entry> lastAttempt;
    std::chrono::steady_clock::time_point attemptStarted;
    // Item calls: where the item goes as it arrives.
    std::unique_ptr<ReplyStream> stream;
    ItemReceiver* receiver = nullptr;
};

SoapClient::Reply SoapClient::invoke(std::string_view operation, const std::vector<Argument>& args,
                                     xml::ElementEvents* streamed, const ItemTarget* item) {
    const std::string source(operation);
    const Request request = beginCall(operation, args, source);
    Exchange exchange;
    if (item != nullptr) {
        exchange.stream =
            std::make_unique<ReplyStream>(*item->receiver, request.op->responseWrapped,
                                          std::string(item->item), ReplyLimits{}.maxDepth);
        exchange.receiver = item->receiver;
    }
    openExchange(request, exchange);
    struct TraceLastAttempt {
        const SoapClient& client;
        Exchange& exchange;
        ~TraceLastAttempt() {
            if (!exchange.lastAttempt || !client.trace_) return;
            CallTrace::Entry& entry = *exchange.lastAttempt;
            entry.duration = std::chrono::steady_clock::now() - exchange.attemptStarted;
            entry.outcome = client.faultCode_.empty()
                                ? std::string("ok")
                                : client.faultCode_ + ": " + client.faultString_;
            client.trace_->write(entry);
        }
    } const traceLast{*this, exchange};
    postWithRetries(request, args, source, exchange);
    checkTransfer(exchange, source);
    if (exchange.sink->itemStreamed()) {
        readAroundItem(exchange, request, source);
        startNextAhead(exchange);
        return Reply{nullptr, {}, std::nullopt, true};
    }
    if (exchange.receiver != nullptr) {
        exchange.sink->settle();
        exchange.receiver->restart();
    }
    // A reply read ahead is a tree already; the receiver walks it.
    if (streamed != nullptr && exchange.result.httpStatus == 200 && !exchange.sink->parsedAhead()) {
        if (const auto read = readStreamed(exchange, *request.op, *streamed, source)) {
            startNextAhead(exchange);
            return Reply{nullptr, {}, *read};
        }
    }
    Reply reply = readTree(exchange, request, source);
    startNextAhead(exchange);
    return reply;
}

SoapClient::Request SoapClient::beginCall(std::string_view operation,
                                          const std::vector<Argument>& args,
                                          const std::string& source) {
    // Only the wait hook can get here during a call. The call in progress keeps its fault
    // texts: they are what its caller reads next.
    if (calling_) {
        throw Error(err::SoapBadCall, "Another service call is still waiting for its reply",
                    source);
    }
    clearFault();
    attemptsMade_ = 0;
    Request request = prepare(operation, args);
    if (request.failure) throwClientFault(*request.failure, request.failureText, source);
    return request;
}

void SoapClient::openExchange(const Request& request, Exchange& exchange) {
    exchange.timeout = applyTimeout();
    exchange.deadline = std::chrono::steady_clock::now() + exchange.timeout;
    try {
        exchange.ahead = takeAhead(request);
    } catch (...) {
        // Fetching ahead only saves time; when it cannot be set up, the call goes out as usual.
        dropPrefetched();
        exchange.ahead.reset();
    }
    // Its reply may be read ahead, but within this call's time-out all the same.
    if (exchange.ahead) exchange.ahead->sink->parser().limitTime(exchange.deadline);
}

void SoapClient::startNextAhead(const Exchange& exchange) {
    if (!exchange.ahead) return;
    try {
        startAhead();
    } catch (...) {
        dropPrefetched();
    }
}

void SoapClient::postWithRetries(const Request& request, const std::vector<Argument>& args,
                                 const std::string& source, Exchange& exchange) {
    try {
        calling_ = true;
        struct Done {
            bool& calling;
            ~Done() { calling = false; }
        } const done{calling_};
        for (int repeat = 0;; ++repeat) {
            attemptsMade_ = repeat + 1;
            exchange.attemptStarted = std::chrono::steady_clock::now();
            if (exchange.ahead && repeat == 0) {
                if (!finishAhead(args, source, exchange)) {
                    repeat = -1;  // the call is made anew, as its first attempt
                    continue;
                }
            } else {
                exchange.deadline = exchange.attemptStarted + exchange.timeout;
                if (exchange.stream) {
                    exchange.stream->restart();
                    exchange.receiver->restart();
                }
                exchange.sink = &exchange.ownSink.emplace(
                    options_.maxReplyBytes, trace_ && trace_->withBodies(), exchange.stream.get());
                exchange.result = postOwn(request, exchange);
            }
            traceAttempt(request, args, source, repeat + 1, exchange);
            const HttpTransport::Result& result = exchange.result;
            if (result.outcome == HttpTransport::Outcome::Completed)
                slowestFirstByte_ = std::max(slowestFirstByte_, result.firstByte);
            if (repeat >= options_.retry.attempts || exchange.sink->tooLarge() ||
                !RetryPolicy::isTransient(result))
                break;
            if (exchange.lastAttempt) {
                exchange.lastAttempt->outcome = attemptOutcome(result);
                trace_->write(*exchange.lastAttempt);
                exchange.lastAttempt.reset();
            }
            transport_->pause(options_.retry.waitBefore(repeat + 1, result.retryAfter, random_));
        }
    } catch (...) {
        // Only running out of memory while building the reply gets here.
        throwReadFailure(exchange.result, source, false);
    }
}

// The first attempt of a call whose post went ahead. False when the call has to be made anew on
// the client's own connection, one at a time from now on.
bool SoapClient::finishAhead(const std::vector<Argument>& args, const std::string& source,
                             Exchange& exchange) {
    HttpTransport::PendingPost& post = *exchange.ahead->post;
    exchange.sink = exchange.ahead->sink.get();
    // A server may serve one connection at a time, the one this client keeps alive between
    // calls, or refuse any more: then a post ahead gets no answer while the transport's own
    // connection could carry it at once. A server seen answering two connections at once is
    // merely slow. A service that takes long over every reply is given twice its slowest start
    // so far, up to the time-out.
    const auto firstByteWait = std::max<std::chrono::milliseconds>(
        kAheadFirstByte,
        std::chrono::duration_cast<std::chrono::milliseconds>(2 * slowestFirstByte_));
    const bool begun = exchange.timeout <= firstByteWait || servedConcurrently_ ||
                       transport_->awaitReplyStart(post, firstByteWait);
    HttpTransport::Result& result = exchange.result;
    if (begun) result = transport_->finishPost(post, exchange.timeout);
    const bool tooLarge =
        exchange.sink->tooLarge() || result.outcome == HttpTransport::Outcome::TooLarge;
    if (begun && tooLarge && exchange.sink->limit() < options_.maxReplyBytes) {
        // Too large to be kept ahead: asked for again, on the client's own connection.
        exchange.ahead.reset();
        exchange.sink = nullptr;
        return false;
    }
    // The next reply had begun before this one ended: on another connection.
    if (!ahead_.empty() && ahead_.front()->post && HttpTransport::replyBegun(*ahead_.front()->post))
        servedConcurrently_ = true;
    if (begun && !(result.lostBeforeReply && !servedConcurrently_)) return true;
    if (trace_) {
        const std::string why =
            begun ? (result.statusLine.empty() ? result.errorText : result.statusLine)
                  : "no reply began within " + std::to_string(firstByteWait.count()) + " ms";
        trace_->write(CallTrace::Entry{source,
                                       tracedArgument(args),
                                       1,
                                       begun ? result.httpStatus : 0,
                                       begun ? result.bytesSent : 0,
                                       begun ? result.bytesOnWire : 0,
                                       0,
                                       std::chrono::steady_clock::now() - exchange.attemptStarted,
                                       "retried one at a time: " + why,
                                       {},
                                       {}});
    }
    exchange.ahead.reset();
    exchange.sink = nullptr;
    fetchOneAtATime();
    return false;
}

void SoapClient::traceAttempt(const Request& request, const std::vector<Argument>& args,
                              const std::string& source, int attempt, Exchange& exchange) {
    if (!trace_) return;
    const HttpTransport::Result& result = exchange.result;
    const bool traceBodies = trace_->withBodies();
    exchange.lastAttempt =
        CallTrace::Entry{source,
                         tracedArgument(args),
                         attempt,
                         result.httpStatus,
                         result.bytesSent,
                         result.bytesOnWire,
                         exchange.sink->size(),
                         std::chrono::steady_clock::now() - exchange.attemptStarted,
                         {},
                         traceBodies ? request.envelope : std::string(),
                         traceBodies ? exchange.sink->tracedText() : std::string()};
    // The service received each of these, though only the last one answered.
    for (int resent = 1; resent < result.requestsSent; ++resent) {
        CallTrace::Entry entry = *exchange.lastAttempt;
        entry.httpStatus = 0;
        entry.bytesReceived = entry.bytesInflated = 0;
        entry.reply.clear();
        entry.outcome = "resent: the kept-alive connection had closed";
        trace_->write(entry);
    }
}

// Fails the call when its transfer did not bring a whole reply.
void SoapClient::checkTransfer(const Exchange& exchange, const std::string& source) {
    using Outcome = HttpTransport::Outcome;
    const HttpTransport::Result& result = exchange.result;
    if (exchange.sink->tooLarge() || result.outcome == Outcome::TooLarge) {
        throwClientFault(CallFailure::ReplyTooLarge,
                         "The reply is larger than the limit of " +
                             std::to_string(options_.maxReplyBytes) + " bytes",
                         source);
    }
    switch (result.outcome) {
        case Outcome::OverInflated:
            throwClientFault(CallFailure::ReplyTooLarge, result.errorText, source);
        case Outcome::TimedOut:
            throwClientFault(CallFailure::Timeout, result.errorText, source);
        case Outcome::Truncated:
            throwClientFault(CallFailure::MalformedReply,
                             "The reply is incomplete: " + result.errorText, source);
        case Outcome::ConnectionFailed:
            // A refused CONNECT is the proxy's answer, even when it says 401 rather than 407.
            if (result.proxyConnectStatus == 407 || result.proxyConnectStatus == 401 ||
                result.httpStatus == 407)
                throwProxyRefused(result, source);
            // A refusal whose sender dropped the connection before its body ended (tinyproxy
            // does) is still a refusal: its status says more than the reset.
            if (result.httpStatus >= 300) throwHttpStatus(result, source);
            throwClientFault(CallFailure::Connection, result.errorText, source);
        case Outcome::Aborted:
        case Outcome::Completed:
        case Outcome::TooLarge:
            break;
    }
    if (result.httpStatus == 407) throwProxyRefused(result, source);
}

// Nothing when the reply needs its tree to be read.
std::optional<StreamedReply> SoapClient::readStreamed(const Exchange& exchange,
                                                      const OperationInfo& op,
                                                      xml::ElementEvents& events,
                                                      const std::string& source) {
    StreamedReply read = StreamedReply::NeedsTree;
    try {
        read = readStreamedReply(exchange.sink->parser().wholeBody(), op.responseWrapped,
                                 exchange.deadline, events, waitHook_);
    } catch (const Error&) {
        throwReadFailure(exchange.result, source, true);
    }
    if (read == StreamedReply::NeedsTree) return std::nullopt;
    return read;
}

// An item call's own post: an item is not held, so its reply may be larger than any other.
HttpTransport::Result SoapClient::postOwn(const Request& request, Exchange& exchange) {
    if (!exchange.stream)
        return transport_->post(request.url, request.op->soapAction, request.envelope,
                                *exchange.sink);
    transport_->setMaxReplyBytes(std::numeric_limits<std::uint64_t>::max());
    struct Restore {
        HttpTransport& transport;
        std::uint64_t bytes;
        ~Restore() { transport.setMaxReplyBytes(bytes); }
    } const restore{*transport_, options_.maxReplyBytes};
    return transport_->post(request.url, request.op->soapAction, request.envelope, *exchange.sink);
}

void SoapClient::readAroundItem(Exchange& exchange, const Request& request,
                                const std::string& source) {
    const HttpTransport::Result& result = exchange.result;
    std::optional<ReplyEnvelope> envelope;
    try {
        const std::string skeleton = exchange.stream->skeleton();
        ReplyParser parser;
        if (!parser.feed(skeleton.data(), skeleton.size()))
            throw Error(err::OutOfMemory, "Out of memory");
        const xml::Document document = parser.finish(exchange.deadline);
        envelope = readReplyEnvelope(document, request.op->responseWrapped);
        if (envelope->fault) {
            const FaultTexts& fault = *envelope->fault;
            faultCode_ = fault.code;
            faultString_ = fault.string;
            faultActor_ = fault.actor.empty() ? withoutCredentials(request.url) : fault.actor;
        }
    } catch (const Error&) {
        throwReadFailure(result, source, false);
    }
    if (!faultCode_.empty()) {
        throw Error(err::SoapFault,
                    faultString_.empty() ? "The service answered with the fault " + faultCode_
                                         : faultString_,
                    source);
    }
}

SoapClient::Reply SoapClient::readTree(Exchange& exchange, const Request& request,
                                       const std::string& source) {
    const HttpTransport::Result& result = exchange.result;
    std::shared_ptr<xml::Document> document;
    ReplyEnvelope envelope;
    try {
        document = std::make_shared<xml::Document>(exchange.sink->takeDocument(exchange.deadline));
        envelope = readReplyEnvelope(*document, request.op->responseWrapped);
    } catch (const Error&) {
        throwReadFailure(result, source, false);
    }
    if (envelope.fault) {
        const FaultTexts& fault = *envelope.fault;
        faultCode_ = fault.code;
        faultString_ = fault.string;
        faultActor_ = fault.actor.empty() ? withoutCredentials(request.url) : fault.actor;
        throw Error(err::SoapFault,
                    fault.string.empty() ? "The service answered with the fault " + fault.code
                                         : fault.string,
                    source);
    }
    if (result.httpStatus != 200) throwHttpStatus(result, source);
    return Reply{std::move(document), envelope.returnElement, std::nullopt};
}

std::string SoapClient::callText(std::string_view operation, const std::vector<Argument>& args) {
    const Reply reply = invoke(operation, args);
    return reply.returnElement ? reply.returnElement.text() : std::string();
}

std::optional<xml::NodeList> SoapClient::call(std::string_view operation,
                                              const std::vector<Argument>& args) {
    Reply reply = invoke(operation, args);
    // Services indent their replies or not, as their SOAP stack likes; both must read the same.
    reply.returnElement.dropWhitespaceText();
    if (!reply.returnElement || !reply.returnElement.hasChildNodes()) return std::nullopt;
    return xml::NodeList(std::move(reply.document), reply.returnElement.children());
}

ItemReply SoapClient::callItem(std::string_view operation, const std::vector<Argument>& args,
                               std::string_view item, ItemReceiver& receiver) {
    const ItemTarget target{item, &receiver};
    Reply reply = invoke(operation, args, nullptr, &target);
    if (reply.itemStreamed) return {true, std::nullopt};
    reply.returnElement.dropWhitespaceText();
    if (!reply.returnElement || !reply.returnElement.hasChildNodes()) return {false, std::nullopt};
    return {false, xml::NodeList(std::move(reply.document), reply.returnElement.children())};
}

bool SoapClient::callStreamed(std::string_view operation, const std::vector<Argument>& args,
                              xml::ElementEvents& events) {
    Reply reply = invoke(operation, args, &events);
    if (reply.streamed) return *reply.streamed == StreamedReply::Read;
    reply.returnElement.dropWhitespaceText();
    if (!reply.returnElement || !reply.returnElement.hasChildNodes()) return false;
    xml::walk(xml::NodeList(std::move(reply.document), reply.returnElement.children()), events);
    return true;
}

}  // namespace ovk::soap
