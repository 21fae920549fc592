// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "catalog.hpp"
#include "fault_plan.hpp"
#include "link_throttle.hpp"
#include "master_data.hpp"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace ovk::refservice {

struct ServiceSettings {
    int port = 0;  // 0: any free port
    std::chrono::milliseconds latency{0};
    FaultPlan faults;
    AnswerOverrides overrides;
    bool verbose = false;  // one line per request on stderr
    // Both set: HTTPS with this PEM certificate (chain) and key; both empty: plain HTTP.
    std::filesystem::path tlsCertificate;
    std::filesystem::path tlsKey;
    bool indent = false;         // pretty-print every reply, as many SOAP stacks do
    bool gzip = false;           // compress replies for clients that accept gzip or deflate
    unsigned bandwidthKbps = 0;  // the link all replies share; 0: as fast as it goes
    // One connection at a time, kept alive as long as its client likes (HTTP allows a server
    // that); further connections wait unread until it closes.
    bool oneConnection = false;
};

// The SOAP 1.1 endpoint over HTTP or HTTPS, bound to 127.0.0.1 only. POST carries requests, GET
// /?wsdl the service description with its address set to this endpoint.
class SoapService {
  public:
    // Throws std::runtime_error when the TLS certificate or key cannot be used.
    SoapService(const Catalog& catalog, ServiceSettings settings);
    ~SoapService();
    SoapService(const SoapService&) = delete;
    SoapService& operator=(const SoapService&) = delete;

    // Binds the listening socket and gives the port; throws std::runtime_error when it cannot.
    int bind();
    std::string url() const;
    // Serves until stop(); call after bind().
    void run();
    // From any thread: stops accepting, and releases replies that are held back (latency,
    // hang). run() itself may take a few seconds more to return: its workers sit out idle
    // keep-alive connections.
    void stop();
    // Waits until no reply is being worked on or written, for at most `limit`; false when
    // some still are then.
    bool waitUntilIdle(std::chrono::milliseconds limit);
    // The most SOAP requests that were being answered at the same time, so that a client's
    // bound on its requests in flight can be checked from outside.
    int mostRequestsAtOnce() const { return mostAtOnce_.load(); }

  private:
    void handlePost(const httplib::Request& request, httplib::Response& response);
    void handleGet(const httplib::Request& request, httplib::Response& response);
    void sendFault(httplib::Response& response, std::string_view code,
                   std::string_view message) const;
    void sendReply(const httplib::Request& request, httplib::Response& response,
                   const ReplyBody& body, std::optional<std::uint64_t> truncateAt,
                   std::shared_ptr<void> busy);
    // Counts a reply as busy for as long as the token (or a copy of it) lives.
    std::shared_ptr<void> busyToken();
    // Waits for `duration` or until stop(); false when stopped.
    bool pause(std::chrono::milliseconds duration);
    bool pauseUntilStopped();
    std::string serviceDescription() const;

    const Catalog& catalog_;
    ServiceSettings settings_;
    MasterData data_;
    std::unique_ptr<httplib::Server> server_;
    LinkThrottle link_;
    int port_ = 0;

    std::mutex mutex_;
    std::condition_variable stopped_;
    std::atomic<bool> stopping_{false};
    int busy_ = 0;  // guarded by mutex_
    std::atomic<int> answering_{0};
    std::atomic<int> mostAtOnce_{0};
};

}  // namespace ovk::refservice
