// SPDX-License-Identifier: MIT
#include "soap_service.hpp"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <stdexcept>

#include "embedded_resources.hpp"
#include "reply_compression.hpp"
#include "reply_indenter.hpp"
#include "soap_envelope.hpp"

namespace ovk::refservice {
namespace {

constexpr const char* kXml = "text/xml; charset=utf-8";

// A reply a parser must reject: an element that never closes and an attribute without value.
std::string malformedReply(Operation op) {
    const std::string name(operationName(op));
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
           "<soap:Envelope "
           "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body><tns:" +
           name + "Response xmlns:tns=\"urn:velmora:masterdata\"><tns:" + name +
           "Result><root broken=></soap:Body>";
}

// An oversized reply: `head`, then `unit` repeated until the body holds `size` bytes, then
// `tail`, sent chunked so that nobody can tell its length in advance.
// With `gzip` the body goes out compressed as tightly as zlib can, as a decompression bomb.
void streamOversized(httplib::Response& response, std::string head, std::string unit,
                     std::string tail, std::uint64_t size, std::shared_ptr<void> busy,
                     bool gzip = false) {
    std::string block;
    while (block.size() < (64u << 10)) block += unit;
    if (gzip) response.set_header("Content-Encoding", "gzip");
    // cpp-httplib compresses every text/xml body for a client that accepts gzip; SOAP 1.2's
    // type keeps it from compressing the bomb a second time.
    response.set_chunked_content_provider(
        gzip ? "application/soap+xml; charset=utf-8" : kXml,
        [head = std::move(head), block = std::move(block), tail = std::move(tail), size,
         busy = std::move(busy), gzip](std::size_t, httplib::DataSink& sink) {
            std::unique_ptr<StreamCompressor> compressor;
            if (gzip) compressor = std::make_unique<StreamCompressor>(ContentCoding::Gzip, 9);
            const auto send = [&](std::string_view piece, bool last) {
                if (!compressor) return sink.write(piece.data(), piece.size());
                const std::string packed = compressor->compress(piece, last);
                return packed.empty() || sink.write(packed.data(), packed.size());
            };
            if (!send(head, false)) return false;
            std::uint64_t written = head.size() + tail.size();
            while (written < size) {
                const std::size_t n =
                    static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - written));
                if (!send(std::string_view(block.data(), n), false)) return false;
                written += n;
            }
            if (!send(tail, true)) return false;
            sink.done();
            return true;
        });
}

void sendOversized(httplib::Response& response, const Fault& fault, Operation op,
                   std::shared_ptr<void> busy) {
    const std::string name(operationName(op));
    const std::string envelopeHead =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
        "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>";
    const std::string resultHead = envelopeHead + "<tns:" + name +
                                   "Response xmlns:tns=\"urn:velmora:masterdata\"><tns:" + name +
                                   "Result>";
    const std::string resultTail =
        "</tns:" + name + "Result></tns:" + name + "Response></soap:Body></soap:Envelope>";
    switch (fault.kind) {
        case FaultKind::ElementStream:
            streamOversized(response, resultHead + "<root>", "<a/>", "</root>" + resultTail,
                            fault.size, std::move(busy));
            break;
        case FaultKind::HugeFault:
            response.status = 500;
            streamOversized(
                response,
                envelopeHead + "<soap:Fault><faultcode>soap:Server</faultcode><faultstring>",
                "Injected fault text. ", "</faultstring></soap:Fault></soap:Body></soap:Envelope>",
                fault.size, std::move(busy));
            break;
        case FaultKind::BadCdata:
            streamOversized(response, resultHead + "<root><![CDATA[\x01", "QUJD",
                            "]]></root>" + resultTail, fault.size, std::move(busy));
            break;
        case FaultKind::GzipBomb:
            streamOversized(response, resultHead + "<root>", "A", "</root>" + resultTail,
                            fault.size, std::move(busy), true);
            break;
        default:
            break;
    }
}

// A small body set whole. cpp-httplib would compress it for every client that accepts gzip;
// this service compresses only when told to (--gzip), and then only what sendReply sends.
void setText(httplib::Response& response, std::string text, const char* contentType) {
    auto shared = std::make_shared<const std::string>(std::move(text));
    response.set_content_provider(
        shared->size(), contentType,
        [shared](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            return sink.write(shared->data() + offset, std::min(length, shared->size() - offset));
        });
}

bool asksForDescription(const httplib::Request& request) {
    for (const auto& [key, value] : request.params) {
        std::string lower = key;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        if (lower == "wsdl") return true;
    }
    return false;
}

std::unique_ptr<httplib::Server> makeServer(const ServiceSettings& settings) {
    if (settings.tlsCertificate.empty()) return std::make_unique<httplib::Server>();
    auto server = std::make_unique<httplib::SSLServer>(settings.tlsCertificate.c_str(),
                                                       settings.tlsKey.c_str());
    // cpp-httplib only says "not valid"; the files are named so the user knows where to look.
    if (!server->is_valid())
        throw std::runtime_error("cannot serve HTTPS with the certificate " +
                                 settings.tlsCertificate.string() + " and the key " +
                                 settings.tlsKey.string() +
                                 " (both PEM files, the key unencrypted and matching)");
    return server;
}

}  // namespace

SoapService::SoapService(const Catalog& catalog, ServiceSettings settings)
    : catalog_(catalog),
      settings_(std::move(settings)),
      data_(catalog_, settings_.overrides),
      server_(makeServer(settings_)),
      link_(settings_.bandwidthKbps) {
    httplib::Server& server = *server_;
    // cpp-httplib writes headers and body in two sends; with Nagle on, every reply then waits
    // for the client's delayed ACK and the service manages some 38 requests a second.
    server.set_tcp_nodelay(true);
    // Clients keep one connection for a whole download; the default of 5 requests would make
    // them reconnect all the time.
    server.set_keep_alive_max_count(100000);
    server.set_keep_alive_timeout(5);
    // Requests are small; anything larger is not a request of this service.
    server.set_payload_max_length(4 * 1024 * 1024);
    // Hanging replies each hold a worker until the service stops; leave room for others.
    const std::size_t workers = settings_.oneConnection ? 1 : 32;
    server.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    // An idle client keeps its one connection, and the others keep waiting, for as long as it
    // likes; only the end of the service ends the wait.
    if (settings_.oneConnection) server.set_keep_alive_timeout(3600);

    server.Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
        handlePost(req, res);
    });
    server.Get(
        ".*", [this](const httplib::Request& req, httplib::Response& res) { handleGet(req, res); });
    server.set_exception_handler(
        [this](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
            std::string message = "Internal error";
            try {
                if (ep) std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                message = e.what();
            } catch (...) {
            }
            sendFault(res, "Server", message);
        });
    if (settings_.verbose) {
        server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
            std::cerr << req.method << ' ' << req.target << " -> " << res.status << '\n';
        });
    }
}

SoapService::~SoapService() = default;

int SoapService::bind() {
    if (settings_.port == 0) {
        port_ = server_->bind_to_any_port("127.0.0.1");
    } else {
        port_ = server_->bind_to_port("127.0.0.1", settings_.port) ? settings_.port : -1;
    }
    if (port_ <= 0)
        throw std::runtime_error(
            "cannot listen on 127.0.0.1" +
            (settings_.port ? ":" + std::to_string(settings_.port) : std::string()));
    return port_;
}

std::string SoapService::url() const {
    const char* scheme = settings_.tlsCertificate.empty() ? "http" : "https";
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_) + "/";
}

void SoapService::run() {
    server_->listen_after_bind();
}

void SoapService::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
    server_->stop();
}

std::shared_ptr<void> SoapService::busyToken() {
    {
        std::lock_guard lock(mutex_);
        ++busy_;
    }
    return std::shared_ptr<void>(nullptr, [this](void*) {
        {
            std::lock_guard lock(mutex_);
            --busy_;
        }
        stopped_.notify_all();
    });
}

bool SoapService::waitUntilIdle(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return stopped_.wait_for(lock, limit, [this] { return busy_ == 0; });
}

bool SoapService::pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !stopped_.wait_for(lock, duration, [this] { return stopping_.load(); });
}

bool SoapService::pauseUntilStopped() {
    std::unique_lock lock(mutex_);
    stopped_.wait(lock, [this] { return stopping_.load(); });
    return false;
}

std::string SoapService::serviceDescription() const {
    std::string text(embeddedServiceDescription());
    const std::string marker = "soap:address location=\"";
    const auto start = text.find(marker);
    if (start != std::string::npos) {
        const auto valueStart = start + marker.size();
        const auto valueEnd = text.find('"', valueStart);
        if (valueEnd != std::string::npos) text.replace(valueStart, valueEnd - valueStart, url());
    }
    return text;
}

void SoapService::handleGet(const httplib::Request& request, httplib::Response& response) {
    if ((request.path == "/" && asksForDescription(request)) ||
        request.path == "/VelmoraSvr.wsdl") {
        setText(response, serviceDescription(), kXml);
    } else if (request.path == "/") {
        setText(response,
                "ovk-refservice: POST SOAP 1.1 requests to " + url() +
                    "; the service description is at " + url() + "?wsdl\n",
                "text/plain; charset=utf-8");
    } else {
        response.status = 404;
        setText(response, "Not found\n", "text/plain; charset=utf-8");
    }
}

void SoapService::sendFault(httplib::Response& response, std::string_view code,
                            std::string_view message) const {
    // SOAP 1.1 over HTTP: a fault travels with status 500.
    response.status = 500;
    const std::string fault = faultEnvelope(code, message, url());
    setText(response, settings_.indent ? indentedText(fault) : fault, kXml);
}

void SoapService::sendReply(const httplib::Request& request, httplib::Response& response,
                            const ReplyBody& body, std::optional<std::uint64_t> truncateAt,
                            std::shared_ptr<void> busy) {
    if (const std::string missing = body.unreadableFile(); !missing.empty()) {
        sendFault(response, "Server", "The document " + missing + " cannot be read");
        return;
    }
    auto shared = std::make_shared<ReplyBody>(settings_.indent ? indentedReply(body) : body);
    // Compressed here rather than by cpp-httplib, which would give up the announced length and
    // keep the throttle from seeing the bytes that really travel.
    if (const auto coding = settings_.gzip
                                ? acceptedCoding(request.get_header_value("Accept-Encoding"))
                                : std::nullopt) {
        auto compressed = compressedBody(*shared, *coding);
        if (!compressed) {
            sendFault(response, "Server", "A document of the reply cannot be read");
            return;
        }
        response.set_header("Content-Encoding", std::string(contentCodingName(*coding)));
        shared = std::make_shared<ReplyBody>(std::move(*compressed));
    }
    // Streamed with the full length announced; a truncated reply stops at half of it (or at
    // the byte asked for) and the provider's refusal makes the server drop the connection. The
    // provider holds the busy token, so the reply counts as busy until it has been written.
    const std::size_t length = shared->size();
    const bool truncate = truncateAt.has_value();
    const std::size_t limit =
        !truncate ? length
                  : (*truncateAt == 0 ? length / 2 : std::min<std::uint64_t>(length, *truncateAt));
    response.set_content_provider(
        length, kXml,
        [this, shared, limit, truncate, busy = std::move(busy)](std::size_t offset, std::size_t,
                                                                httplib::DataSink& sink) {
            if (offset != 0) return false;  // everything is written in the first call
            const bool written = shared->write(
                [this, &sink](const char* data, std::size_t n) {
                    if (!link_.limited()) return sink.write(data, n);
                    for (std::size_t at = 0; at < n; at += LinkThrottle::kPiece) {
                        const std::size_t piece = std::min(LinkThrottle::kPiece, n - at);
                        link_.pass(piece);
                        if (!sink.write(data + at, piece)) return false;
                    }
                    return true;
                },
                limit);
            return written && !truncate;
        });
}

void SoapService::handlePost(const httplib::Request& request, httplib::Response& response) {
    auto busy = busyToken();
    // Counted from the request's arrival to the end of its handler, the latency included: that
    // is the time a client's request occupies the service.
    const int now = ++answering_;
    for (int most = mostAtOnce_.load();
         now > most && !mostAtOnce_.compare_exchange_weak(most, now);) {
    }
    struct Answered {
        std::atomic<int>& answering;
        ~Answered() { --answering; }
    } const answered{answering_};
    if (settings_.latency.count() > 0 && !pause(settings_.latency)) {
        response.status = 503;
        setText(response, "The service is stopping\n", "text/plain; charset=utf-8");
        return;
    }

    Call call;
    try {
        call = parseRequest(request.body, request.get_header_value("SOAPAction"));
    } catch (const RequestFault& fault) {
        sendFault(response, fault.code, fault.what());
        return;
    }

    const auto fault = settings_.faults.matchingFault(call);
    const std::string name(operationName(call.operation));
    ReplyBody result;
    std::optional<std::uint64_t> truncateAt;
    if (fault) {
        switch (fault->kind) {
            case FaultKind::Http500:
                response.status = 500;
                setText(response, "Internal Server Error\n", "text/plain; charset=utf-8");
                return;
            case FaultKind::Http503:
                response.status = 503;
                if (fault->retryAfter)
                    response.set_header("Retry-After", std::to_string(*fault->retryAfter));
                setText(response, "Service Unavailable\n", "text/plain; charset=utf-8");
                return;
            case FaultKind::SoapFault:
                sendFault(response, "Server", "Injected fault in " + name);
                return;
            case FaultKind::Malformed:
                setText(response, malformedReply(call.operation), kXml);
                return;
            case FaultKind::Hang:
                pauseUntilStopped();
                response.status = 503;
                setText(response, "The service is stopping\n", "text/plain; charset=utf-8");
                return;
            case FaultKind::Exception:
                result.append(MasterData::exceptionElement(32, "Injected exception in " + name,
                                                           "VelmoraSvr." + name));
                sendReply(request, response, responseEnvelope(call.operation, result), std::nullopt,
                          busy);
                return;
            case FaultKind::Empty:
                sendReply(request, response, responseEnvelope(call.operation, result), std::nullopt,
                          busy);
                return;
            case FaultKind::WrongRoot:
                result.append("<Root><Articleinfo><Number>0</Number></Articleinfo></Root>");
                sendReply(request, response, responseEnvelope(call.operation, result), std::nullopt,
                          busy);
                return;
            case FaultKind::PlainText:
                result.append("No data for this item");
                sendReply(request, response, responseEnvelope(call.operation, result), std::nullopt,
                          busy);
                return;
            case FaultKind::Truncated:
                truncateAt = fault->size;
                break;
            case FaultKind::ElementStream:
            case FaultKind::HugeFault:
            case FaultKind::BadCdata:
            case FaultKind::GzipBomb:
                sendOversized(response, *fault, call.operation, busy);
                return;
        }
    }

    try {
        result = data_.answer(call);
    } catch (const BadRequest& bad) {
        sendFault(response, "Client", bad.what());
        return;
    }
    sendReply(request, response, responseEnvelope(call.operation, result), truncateAt, busy);
}

}  // namespace ovk::refservice
