// Service-call throughput and memory of the SOAP client.
//
// Throughput: N sequential small GetItemData calls through SoapClient, against the same
// requests sent by a bare libcurl client over one reused connection, in the same run and
// against the same service; the ratio bare/client is the client's overhead. The bare pair
// (bare libcurl against a minimal cpp-httplib server with TCP_NODELAY) is measured too, so a
// slow service cannot hide behind a slow baseline.
//
// Memory: one GetItemData call whose reply is large (default 50 MB), served from a child
// process so that the server's copy of the reply does not count, with the peak resident set
// size of this process before and after.

#include <curl/curl.h>
#include <httplib.h>
#include <libxml/tree.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.hpp"
#include "platform/soap/envelope.hpp"
#include "platform/soap/service_description.hpp"
#include "platform/soap/soap_client.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using ovk::soap::Argument;

struct Options {
    std::string endpoint;  // empty: an in-process minimal server
    std::string wsdl = OVK_DATA_DIR "/VelmoraSvr.wsdl";
    int calls = 10000;
    int rounds = 3;
    std::string password = "secret";
    std::string project = "P1";
    int16_t lang = 1031;
    std::string material = "4711";
    int largeMb = 0;  // > 0: the memory measurement instead of the throughput one
};

void usage() {
    std::cout
        << "Usage: soap_calls_bench [--endpoint URL] [--wsdl FILE] [--calls N] [--rounds N]\n"
           "                        [--password P] [--project ID] [--lang N] [--material ID]\n"
           "       soap_calls_bench --large-mb N [--wsdl FILE]\n";
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
            return argv[++i];
        };
        if (a == "--endpoint")
            o.endpoint = value();
        else if (a == "--wsdl")
            o.wsdl = value();
        else if (a == "--calls")
            o.calls = std::stoi(value());
        else if (a == "--rounds")
            o.rounds = std::stoi(value());
        else if (a == "--password")
            o.password = value();
        else if (a == "--project")
            o.project = value();
        else if (a == "--lang")
            o.lang = static_cast<int16_t>(std::stoi(value()));
        else if (a == "--material")
            o.material = value();
        else if (a == "--large-mb")
            o.largeMb = std::stoi(value());
        else if (a == "--help" || a == "-h") {
            usage();
            std::exit(0);
        } else
            throw std::invalid_argument("unknown option " + a);
    }
    return o;
}

std::string envelope(const std::string& body) {
    return R"(<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Body><GetItemDataResponse xmlns="urn:velmora:masterdata"><GetItemDataResult>)" +
           body + "</GetItemDataResult></GetItemDataResponse></soap:Body></soap:Envelope>";
}

std::string smallItemReply() {
    return envelope(
        "<root><Articleinfo><Number>4711</Number><Name>Motor AC 0.75 "
        "kW</Name><COMPONENTS><Component>"
        "<Number>12</Number></Component></COMPONENTS><BINARY><SYMBOLS><Symbol><![CDATA[line "
        "1\nline 2]]>"
        "</Symbol></SYMBOLS><GERS><Ger><![CDATA[G1;4711;X]]></Ger></GERS><DOCUMENTS>"
        "<Document "
        "Name=\"a.pdf\"><![CDATA[JVBERi0xLjQK]]></Document></DOCUMENTS></BINARY></Articleinfo></"
        "root>");
}

// A GetItemData reply of about `bytes`: one large Base64 document plus many small symbols.
std::string largeItemReply(std::size_t bytes) {
    const std::string line =
        "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0NTY3\n";
    std::string symbols;
    const std::size_t symbolBytes = bytes / 10;
    while (symbols.size() < symbolBytes)
        symbols += "<Symbol><![CDATA[" + line + line + line + "]]></Symbol>";
    std::string document;
    document.reserve(bytes);
    while (document.size() + symbols.size() < bytes) document += line;
    return envelope("<root><Articleinfo><Number>4711</Number><BINARY><SYMBOLS>" + symbols +
                    "</SYMBOLS><DOCUMENTS><Document Name=\"big.pdf\"><![CDATA[" + document +
                    "]]></Document></DOCUMENTS></BINARY></Articleinfo></root>");
}

// A minimal SOAP server that answers every POST with one fixed reply.
class FixedServer {
  public:
    explicit FixedServer(std::string reply) : reply_(std::move(reply)) {
        server_.set_tcp_nodelay(true);
        server_.set_keep_alive_max_count(std::numeric_limits<std::size_t>::max() / 2);
        server_.Post(R"(.*)", [this](const httplib::Request&, httplib::Response& r) {
            r.set_content(reply_, "text/xml; charset=utf-8");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~FixedServer() {
        server_.stop();
        thread_.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
    int port() const { return port_; }

  private:
    std::string reply_;
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
};

// A plain libcurl client posting one fixed request over one reused connection.
class BareClient {
  public:
    BareClient(const std::string& url, const std::string& action, std::string body)
        : body_(std::move(body)) {
        easy_ = curl_easy_init();
        headers_ = curl_slist_append(headers_, "Content-Type: text/xml; charset=utf-8");
        headers_ = curl_slist_append(headers_, ("SOAPAction: \"" + action + "\"").c_str());
        headers_ = curl_slist_append(headers_, "Expect:");
        curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, body_.c_str());
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body_.size()));
        curl_easy_setopt(easy_, CURLOPT_TCP_NODELAY, 1L);
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_PROXY, "");
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &BareClient::discard);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &received_);
        // libcurl reads no variable itself; the SOAP client trusts the authority SSL_CERT_FILE
        // names, so the bare client must too for an https:// service.
        if (const char* authority = std::getenv("SSL_CERT_FILE"))
            curl_easy_setopt(easy_, CURLOPT_CAINFO, authority);
    }
    ~BareClient() {
        curl_easy_cleanup(easy_);
        curl_slist_free_all(headers_);
    }
    void call() {
        const CURLcode code = curl_easy_perform(easy_);
        long status = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
        if (code != CURLE_OK || status != 200) {
            throw std::runtime_error(std::string("bare call failed: ") + curl_easy_strerror(code) +
                                     " status " + std::to_string(status));
        }
    }

  private:
    static size_t discard(char*, size_t size, size_t count, void* received) {
        *static_cast<std::size_t*>(received) += size * count;
        return size * count;
    }
    CURL* easy_ = nullptr;
    curl_slist* headers_ = nullptr;
    std::string body_;
    std::size_t received_ = 0;
};

double callsPerSecond(int calls, const std::function<void()>& call) {
    for (int i = 0; i < std::min(calls / 10 + 1, 200); ++i) call();  // warm up the connection
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i) call();
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    return calls / elapsed.count();
}

// The text held beneath `node`, measured in place: Node::text() would copy it twice and spoil
// the measurement.
std::size_t textBytes(const ovk::xml::Node& node) {
    std::size_t total = 0;
    for (const ovk::xml::Node& child : node.children()) {
        if (child.kind() == ovk::xml::NodeKind::Element) {
            total += textBytes(child);
        } else if (child.raw()->content != nullptr) {
            total += std::strlen(reinterpret_cast<const char*>(child.raw()->content));
        }
    }
    return total;
}

long maxRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long currentRssKiB() {
    FILE* statm = std::fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (statm != nullptr) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int throughput(const Options& o) {
    const std::vector<Argument> args = {o.password, o.project, o.lang, o.material};
    std::unique_ptr<FixedServer> fixed;
    std::string endpoint = o.endpoint;
    if (endpoint.empty()) {
        fixed = std::make_unique<FixedServer>(smallItemReply());
        endpoint = fixed->url();
    }

    ovk::soap::SoapClient client;
    client.initialize(o.wsdl);
    if (!client.faultCode().empty()) throw std::runtime_error("WSDL: " + client.faultString());
    client.setProperty("EndPointURL", endpoint);
    const auto first = client.call("GetItemData", args);
    if (!first || first->first().localName() != "root") {
        throw std::runtime_error(
            "GetItemData did not answer an item root; check --project/--material");
    }

    // The desktop's client: the same calls, with the wait hook that lets windows paint.
    ovk::soap::SoapClient hooked;
    hooked.initialize(o.wsdl);
    hooked.setProperty("EndPointURL", endpoint);
    int hookCalls = 0;
    hooked.setWaitHook([&hookCalls] { ++hookCalls; });

    const auto description = ovk::soap::ServiceDescription::load(o.wsdl);
    const auto* op = description.find("GetItemData");
    const std::string request = ovk::soap::buildRequestEnvelope(*op, args);
    BareClient bare(endpoint, op->soapAction, request);

    // The bare pair: the figure every service-call benchmark is held against.
    FixedServer pairServer(smallItemReply());
    BareClient pairClient(pairServer.url(), op->soapAction, request);

    double bestSoap = 0, bestBare = 0, bestPair = 0, bestHooked = 0;
    for (int round = 0; round < o.rounds; ++round) {
        bestBare = std::max(bestBare, callsPerSecond(o.calls, [&] { bare.call(); }));
        bestSoap =
            std::max(bestSoap, callsPerSecond(o.calls, [&] { client.call("GetItemData", args); }));
        bestHooked = std::max(bestHooked,
                              callsPerSecond(o.calls, [&] { hooked.call("GetItemData", args); }));
        bestPair = std::max(bestPair, callsPerSecond(o.calls, [&] { pairClient.call(); }));
    }
    std::printf("service:            %s\n",
                o.endpoint.empty() ? "in-process minimal server" : endpoint.c_str());
    std::printf("calls per run:      %d (best of %d runs)\n", o.calls, o.rounds);
    std::printf("SoapClient:         %.0f calls/s\n", bestSoap);
    std::printf("bare libcurl:       %.0f calls/s (same service, same request)\n", bestBare);
    std::printf("ratio bare/client:  %.2f (target <= 1.5)\n", bestBare / bestSoap);
    std::printf("with wait hook:     %.0f calls/s, ratio client/hooked %.2f (hook ran %d times)\n",
                bestHooked, bestSoap / bestHooked, hookCalls);
    std::printf(
        "bare pair:          %.0f calls/s (bare libcurl, minimal cpp-httplib, TCP_NODELAY)\n",
        bestPair);
    return bestBare / bestSoap <= 1.5 ? 0 : 2;
}

int memory(const Options& o) {
    const std::size_t bytes = static_cast<std::size_t>(o.largeMb) << 20;
    int ready[2];
    if (pipe(ready) != 0) throw std::runtime_error("pipe failed");
    // The server runs in a child process, started before this process has any thread, so
    // that only the client's memory counts here.
    const pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        FixedServer server(largeItemReply(bytes));
        const int port = server.port();
        if (write(ready[1], &port, sizeof port) != sizeof port) _exit(1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    int port = 0;
    if (read(ready[0], &port, sizeof port) != sizeof port)
        throw std::runtime_error("server did not start");

    ovk::soap::SoapClient client;
    client.initialize(o.wsdl);
    client.setProperty("EndPointURL", "http://127.0.0.1:" + std::to_string(port) + "/");
    const long before = maxRssKiB();
    const auto start = Clock::now();
    std::size_t replyText = 0;
    {
        const auto nodes = client.call("GetItemData", {o.password, o.project, o.lang, o.material});
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        if (nodes) replyText = textBytes(nodes->first());
        std::printf("reply:              %d MiB of XML, %zu bytes of text in the item, %.2f s\n",
                    o.largeMb, replyText, elapsed.count());
        std::printf("resident while held: %ld MiB\n", currentRssKiB() / 1024);
    }
    const long after = maxRssKiB();
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);

    const double growth = (after - before) / 1024.0;
    std::printf("peak RSS:           %.1f MiB before the call, %.1f MiB after (high-water mark)\n",
                before / 1024.0, after / 1024.0);
    std::printf("peak growth:        %.1f MiB = %.2f x the reply (target < 4)\n", growth,
                growth / o.largeMb);
    std::printf("peak total:         %.2f x the reply\n", after / 1024.0 / o.largeMb);
    return growth / o.largeMb < 4 ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const Options o = parse(argc, argv);
        return o.largeMb > 0 ? memory(o) : throughput(o);
    } catch (const ovk::Error& e) {
        std::cerr << "soap_calls_bench: " << e.description << " (" << e.number << ")\n";
    } catch (const std::exception& e) {
        std::cerr << "soap_calls_bench: " << e.what() << "\n";
    }
    return 1;
}
