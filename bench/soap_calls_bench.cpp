// SPDX-License-Identifier: MIT
// Service-call throughput and memory of the SOAP client.
//
// Throughput: rounds of N sequential small GetItemData calls through SoapClient, against the
// same requests sent by a bare libcurl client over one reused connection, in the same run and
// against the same service, the sides in turn; the ratios of each round, then min / median. The
// bare pair (bare libcurl against a minimal cpp-httplib server with TCP_NODELAY) is measured too,
// so a slow service cannot hide behind a slow baseline. The client's processor time per call
// (getrusage of the calling thread) is set against bare libcurl's, as calls per second are
// capped by the service.
//
// Large replies (--large-mb N): one GetItemData reply carrying an N MiB Base64 document,
// in CDATA or as element text (--as-text), served from a child process so that the server's
// copy does not count. The call and the whole item as the component takes it (call, reply
// beneath Project, payload files, save) are set against the same reply fetched by bare libcurl
// (the transfer floor) and fetched into a file beside a file of the decoded payload's size,
// both synced (the write floor), round by round; each runs in a process of its own so that its
// peak resident set is its own.

#include <curl/curl.h>
#include <httplib.h>
#include <libxml/tree.h>
#include <sched.h>
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

#include "component/client_impl.hpp"
#include "platform/errors.hpp"
#include "soap/envelope.hpp"
#include "soap/service_description.hpp"
#include "soap/soap_client.hpp"

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
    int largeMb = 0;      // > 0: the memory measurement instead of the throughput one
    bool asText = false;  // the large reply's Base64 as element text instead of CDATA
};

void usage() {
    std::cout
        << "Usage: soap_calls_bench [--endpoint URL] [--wsdl FILE] [--calls N] [--rounds N]\n"
           "                        [--password P] [--project ID] [--lang N] [--material ID]\n"
           "       soap_calls_bench --large-mb N [--as-text] [--rounds N] [--wsdl FILE]\n";
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
        else if (a == "--as-text")
            o.asText = true;
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

// A GetItemData reply of about `bytes`, as a service sends a large document: one Base64 text
// of pseudo-random bytes without line breaks, in one CDATA section or as element text (as most
// SOAP stacks send xsd:base64Binary), beside a few symbol and GER records.
std::string largeItemReply(std::size_t bytes, bool asText = false) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string records;
    for (int i = 0; i < 20; ++i) {
        records += "<Symbol><![CDATA[S" + std::to_string(i) + ";4711;line\nline]]></Symbol>";
    }
    std::string document(bytes / 4 * 4, 'A');
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (char& c : document) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        c = kDigits[state >> 58];
    }
    return envelope("<root><Articleinfo><Number>4711</Number><BINARY><SYMBOLS>" + records +
                    "</SYMBOLS><GERS><Ger><![CDATA[G1;4711;X]]></Ger></GERS><DOCUMENTS>"
                    "<Document Name=\"big.pdf\">" +
                    (asText ? "" : "<![CDATA[") + document + (asText ? "" : "]]>") +
                    "</Document></DOCUMENTS></BINARY></Articleinfo></root>");
}

// A minimal SOAP server that answers every POST with one fixed reply.
class FixedServer {
  public:
    explicit FixedServer(std::string reply) : reply_(std::move(reply)) {
        server_.set_tcp_nodelay(true);
        server_.set_keep_alive_max_count(std::numeric_limits<std::size_t>::max() / 2);
        // A body of known length from a provider: cpp-httplib would gzip a body set whole for
        // every client that offers it, which the SOAP client does and bare libcurl does not,
        // so the two would not be fetching the same reply (the reference service compresses
        // only when told to, in the same way).
        server_.Post(R"(.*)", [this](const httplib::Request&, httplib::Response& r) {
            r.set_content_provider(
                reply_.size(), "text/xml; charset=utf-8",
                [this](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    return sink.write(reply_.data() + offset,
                                      std::min(length, reply_.size() - offset));
                });
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
    // `into`: a file that gets the reply body; none discards it.
    BareClient(const std::string& url, const std::string& action, std::string body,
               std::FILE* into = nullptr)
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
        if (into != nullptr) {
            curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &BareClient::keep);
            curl_easy_setopt(easy_, CURLOPT_WRITEDATA, into);
        } else {
            curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &BareClient::discard);
            curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &received_);
        }
        // libcurl reads no variable itself; the SOAP client trusts the authority SSL_CERT_FILE
        // names, so the bare client must too for an https:// service.
        if (const char* authority = std::getenv("SSL_CERT_FILE"))
            curl_easy_setopt(easy_, CURLOPT_CAINFO, authority);
    }
    ~BareClient() {
        curl_easy_cleanup(easy_);
        curl_slist_free_all(headers_);
        std::free(kept_.data);
    }
    // Keeps the reply in fresh memory of `bytes` taken at once, as any client that hands the
    // reply on must, and receives it in pieces as large as the SOAP client's.
    void keepInMemory(std::size_t bytes) {
        kept_.data = static_cast<char*>(std::malloc(bytes));
        kept_.capacity = bytes;
        curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, 512L << 10);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &BareClient::store);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &kept_);
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
    static size_t keep(char* data, size_t size, size_t count, void* file) {
        return std::fwrite(data, size, count, static_cast<std::FILE*>(file));
    }
    struct Kept {
        char* data = nullptr;
        std::size_t size = 0;
        std::size_t capacity = 0;
    };
    static size_t store(char* data, size_t size, size_t count, void* into) {
        auto* kept = static_cast<Kept*>(into);
        if (kept->data == nullptr || size * count > kept->capacity - kept->size) return 0;
        std::memcpy(kept->data + kept->size, data, size * count);
        kept->size += size * count;
        return size * count;
    }
    static size_t discard(char*, size_t size, size_t count, void* received) {
        *static_cast<std::size_t*>(received) += size * count;
        return size * count;
    }
    CURL* easy_ = nullptr;
    curl_slist* headers_ = nullptr;
    std::string body_;
    std::size_t received_ = 0;
    Kept kept_;
};

// The calls per second and the processor time this thread spent per call (user and system,
// getrusage): the service's own processor time caps calls per second, not the client's.
struct Rate {
    double perSecond = 0;
    double cpuMicros = 0;
};

double threadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Rate measureCalls(int calls, const std::function<void()>& call) {
    for (int i = 0; i < std::min(calls / 10 + 1, 200); ++i) call();  // warm up the connection
    const double cpuStart = threadCpuSeconds();
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i) call();
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    return {calls / elapsed.count(), (threadCpuSeconds() - cpuStart) * 1e6 / calls};
}

// The smallest and the middle of the rounds' figures.
struct Spread {
    double min = 0;
    double median = 0;
};
Spread spread(std::vector<double> figures) {
    std::sort(figures.begin(), figures.end());
    return {figures.front(), figures[figures.size() / 2]};
}

// Runs `sides` in turn, the first one of each round one further along than in the round
// before, so that no side always has the warmer or the colder machine.
void alternate(int rounds, const std::vector<std::function<void()>>& sides) {
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < sides.size(); ++i) sides[(i + round) % sides.size()]();
    }
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

    std::vector<Rate> soap, bareRate, pair, hookedRate;
    alternate(
        o.rounds,
        {[&] { bareRate.push_back(measureCalls(o.calls, [&] { bare.call(); })); },
         [&] { soap.push_back(measureCalls(o.calls, [&] { client.call("GetItemData", args); })); },
         [&] {
             hookedRate.push_back(measureCalls(o.calls, [&] { hooked.call("GetItemData", args); }));
         },
         [&] { pair.push_back(measureCalls(o.calls, [&] { pairClient.call(); })); }});
    std::printf("service:            %s\n",
                o.endpoint.empty() ? "in-process minimal server" : endpoint.c_str());
    std::printf(
        "floor:              bare libcurl posting the same request over one kept-alive "
        "connection, in this process; processor time of the calling thread (getrusage)\n");
    std::printf(
        "%d rounds of %d calls per side, the sides in turn (bare, client, client with the wait "
        "hook, bare pair), each round starting one side further along\n",
        o.rounds, o.calls);
    std::vector<double> cpuRatios, rateRatios, hookRatios;
    for (int r = 0; r < o.rounds; ++r) {
        cpuRatios.push_back(soap[r].cpuMicros / bareRate[r].cpuMicros);
        rateRatios.push_back(bareRate[r].perSecond / soap[r].perSecond);
        hookRatios.push_back(soap[r].perSecond / hookedRate[r].perSecond);
        std::printf(
            "round %d: client %.0f calls/s %.1f us CPU, bare %.0f calls/s %.1f us CPU, "
            "CPU ratio %.2f, calls/s ratio %.2f; hooked %.0f calls/s; bare pair %.0f calls/s\n",
            r + 1, soap[r].perSecond, soap[r].cpuMicros, bareRate[r].perSecond,
            bareRate[r].cpuMicros, cpuRatios.back(), rateRatios.back(), hookedRate[r].perSecond,
            pair[r].perSecond);
    }
    const Spread cpu = spread(cpuRatios), rate = spread(rateRatios), hook = spread(hookRatios);
    std::printf("client CPU per call / bare libcurl's: min %.2f median %.2f (target <= 1.2)\n",
                cpu.min, cpu.median);
    std::printf("bare calls/s / client calls/s:       min %.2f median %.2f (target <= 1.5)\n",
                rate.min, rate.median);
    std::printf(
        "client / with wait hook, calls/s:    min %.2f median %.2f (the hook ran %d times)\n",
        hook.min, hook.median, hookCalls);
    return rate.median <= 1.5 && cpu.median <= 1.2 ? 0 : 2;
}

// The reply fetched by libcurl into a discarded buffer: the floor no client can go under.
// With `keep` > 0, into fresh memory of that size instead: what holding the reply costs.
double transferSeconds(const std::string& url, const std::string& action,
                       const std::string& request, std::size_t keep = 0) {
    BareClient bare(url, action, request);
    if (keep > 0) bare.keepInMemory(keep);
    const auto start = Clock::now();
    bare.call();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// What the whole item cannot go under: the reply fetched into a file, a file of the decoded
// payload's size written, and both made durable.
double writeFloorSeconds(const std::string& url, const std::string& action,
                         const std::string& request, std::size_t decodedBytes,
                         const std::filesystem::path& work) {
    const auto start = Clock::now();
    std::FILE* reply = std::fopen((work / "floor-reply.xml").c_str(), "wb");
    std::FILE* payload = std::fopen((work / "floor-payload.bin").c_str(), "wb");
    if (reply == nullptr || payload == nullptr) throw std::runtime_error("cannot write the floor");
    {
        BareClient bare(url, action, request, reply);
        bare.call();
    }
    std::vector<char> block(std::size_t{1} << 20, 'x');
    for (std::size_t left = decodedBytes; left > 0;) {
        const std::size_t piece = std::min(left, block.size());
        if (std::fwrite(block.data(), 1, piece, payload) != piece)
            throw std::runtime_error("cannot write the floor");
        left -= piece;
    }
    for (std::FILE* file : {reply, payload}) {
        std::fflush(file);
        fsync(fileno(file));
        std::fclose(file);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One measurement in a process of its own, forked before this process has any thread, so that
// its peak resident set is its own. Returns {seconds, peak RSS in MiB}.
std::pair<double, double> inChild(const std::function<double()>& measure) {
    int channel[2];
    if (pipe(channel) != 0) throw std::runtime_error("pipe failed");
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        double figures[2] = {-1, 0};
        try {
            figures[0] = measure();
        } catch (const ovk::Error& e) {
            std::fprintf(stderr, "soap_calls_bench: %s (%d)\n", e.description.c_str(), e.number);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "soap_calls_bench: %s\n", e.what());
        }
        figures[1] = maxRssKiB() / 1024.0;
        if (write(channel[1], figures, sizeof figures) != sizeof figures) _exit(1);
        _exit(0);
    }
    close(channel[1]);
    double figures[2] = {-1, 0};
    const bool read_ = read(channel[0], figures, sizeof figures) == sizeof figures;
    close(channel[0]);
    waitpid(child, nullptr, 0);
    if (!read_ || figures[0] < 0) throw std::runtime_error("a measurement failed");
    return {figures[0], figures[1]};
}

// The component's own path for one item: the call, the reply moved beneath Project, the
// payloads written to their files and the download file saved.
double wholeItemSeconds(const Options& o, const std::string& url,
                        const std::filesystem::path& work) {
    const auto downloadFile = work / "download.xml";
    {
        std::FILE* file = std::fopen(downloadFile.c_str(), "w");
        if (file == nullptr) throw std::runtime_error("cannot write " + downloadFile.string());
        std::fputs(
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Download><Project>"
            "<Symbolfile>sym.txt</Symbolfile><Gerfile>ger.txt</Gerfile></Project>"
            "</Download>\n",
            file);
        std::fclose(file);
    }
    auto client = std::make_shared<ovk::soap::SoapClient>();
    client->initialize(o.wsdl);
    client->setProperty("EndPointURL", url);
    ovk::Client::Impl impl(std::make_shared<const ovk::ClientServices>(ovk::baseClientServices()));
    impl.DownloadFile = downloadFile.string();
    impl.MyXMLDocument =
        std::make_shared<ovk::xml::Document>(ovk::xml::Document::loadFile(downloadFile));
    impl.MySoapobject = client;
    impl.settings.projectId = o.project;
    impl.settings.projectPassword = o.password;
    impl.settings.projectLanguage = "English";
    const auto start = Clock::now();
    impl.DownloadItem(o.material);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::error_code ec;
    if (std::filesystem::file_size(work / "big.pdf", ec) == 0 || ec)
        throw std::runtime_error("the item wrote no document file");
    return seconds;
}

// Keeps this process on one processor: the large reply's server on the last one, so that it
// does not take the processor a measured side runs on, while a side that works in two threads
// still has the others. A machine of one processor runs both on it.
void keepToProcessor(int which) {
    const long processors = sysconf(_SC_NPROCESSORS_ONLN);
    if (processors < 2) return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(static_cast<int>(which % processors), &set);
    sched_setaffinity(0, sizeof set, &set);
}

// One GetItemData reply of --large-mb MiB carrying one Base64 document, served by a process of
// its own started before any timing and kept to the last processor. In every round the
// transfer floor, the keeping floor, the write floor, the call and the whole item run in turn,
// each in a process of its own (so that its peak resident set is its own), the first one
// further along each round; the ratios of each round, then their min / median.
int largeReply(const Options& o) {
    const std::size_t bytes = static_cast<std::size_t>(o.largeMb) << 20;
    int ready[2];
    if (pipe(ready) != 0) throw std::runtime_error("pipe failed");
    const pid_t server = fork();
    if (server == 0) {
        close(ready[0]);
        keepToProcessor(static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)) - 1);
        FixedServer fixed(largeItemReply(bytes, o.asText));
        const int port = fixed.port();
        if (write(ready[1], &port, sizeof port) != sizeof port) _exit(1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    int port = 0;
    if (read(ready[0], &port, sizeof port) != sizeof port)
        throw std::runtime_error("server did not start");
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
    const std::vector<Argument> args = {o.password, o.project, o.lang, o.material};
    const auto description = ovk::soap::ServiceDescription::load(o.wsdl);
    const auto* op = description.find("GetItemData");
    const std::string request = ovk::soap::buildRequestEnvelope(*op, args);
    const auto work =
        std::filesystem::temp_directory_path() / ("soap_calls_bench." + std::to_string(getpid()));
    std::filesystem::create_directories(work);

    const std::size_t replyBytes = largeItemReply(0, o.asText).size() + bytes;
    std::vector<double> floor, keepFloor, writeFloor, call, item;
    double floorRss = 0, callRss = 0, itemRss = 0;
    const auto record = [](std::vector<double>& times, double& peak,
                           std::pair<double, double> figures) {
        times.push_back(figures.first);
        peak = std::max(peak, figures.second);
    };
    double unused = 0;
    alternate(
        o.rounds,
        {[&] {
             record(floor, floorRss,
                    inChild([&] { return transferSeconds(url, op->soapAction, request); }));
         },
         [&] {
             record(keepFloor, unused, inChild([&] {
                        return transferSeconds(url, op->soapAction, request, replyBytes + 1);
                    }));
         },
         [&] {
             record(writeFloor, unused, inChild([&] {
                        return writeFloorSeconds(url, op->soapAction, request, bytes / 4 * 3, work);
                    }));
         },
         [&] {
             record(call, callRss, inChild([&] {
                        ovk::soap::SoapClient client;
                        client.initialize(o.wsdl);
                        client.setProperty("EndPointURL", url);
                        const auto start = Clock::now();
                        const auto nodes = client.call("GetItemData", args);
                        const double seconds =
                            std::chrono::duration<double>(Clock::now() - start).count();
                        if (!nodes || textBytes(nodes->first()) < bytes / 2)
                            throw std::runtime_error("the reply lost its payload");
                        return seconds;
                    }));
         },
         [&] { record(item, itemRss, inChild([&] { return wholeItemSeconds(o, url, work); })); }});
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    std::filesystem::remove_all(work);

    const double replyMiB = static_cast<double>(replyBytes) / (1 << 20);
    std::printf(
        "reply:              %.0f MiB of XML, one Base64 document as %s; %d rounds, the sides in "
        "turn\n",
        replyMiB, o.asText ? "element text" : "CDATA", o.rounds);
    std::printf(
        "floors:             transfer: bare libcurl into a discarded buffer; keeping: the same "
        "into fresh memory in 512 KiB pieces; write: the same into a file beside a file of the "
        "decoded size, both fsynced; each side a process of its own, the server kept to the last "
        "processor\n");
    std::vector<double> callRatios, keepRatios, itemRatios;
    for (int r = 0; r < o.rounds; ++r) {
        callRatios.push_back(call[r] / floor[r]);
        keepRatios.push_back(call[r] / keepFloor[r]);
        itemRatios.push_back(item[r] / writeFloor[r]);
        std::printf(
            "round %d: transfer %.3f s, keeping %.3f s, write %.3f s, call %.3f s (%.2f x "
            "transfer, %.2f x keeping), whole item %.3f s (%.2f x write)\n",
            r + 1, floor[r], keepFloor[r], writeFloor[r], call[r], callRatios.back(),
            keepRatios.back(), item[r], itemRatios.back());
    }
    const Spread callSpread = spread(callRatios), keepSpread = spread(keepRatios),
                 itemSpread = spread(itemRatios);
    std::printf("call / transfer floor:    min %.2f median %.2f (target <= 1.5)\n", callSpread.min,
                callSpread.median);
    std::printf("call / keeping floor:     min %.2f median %.2f\n", keepSpread.min,
                keepSpread.median);
    std::printf(
        "whole item / write floor: min %.2f median %.2f (target <= 1.1; call, document, files, "
        "save)\n",
        itemSpread.min, itemSpread.median);
    std::printf(
        "peak RSS:                 bare %.0f MiB, call %.0f MiB, whole item %.0f MiB (target <= "
        "128 MiB)\n",
        floorRss, callRss, itemRss);
    return callSpread.median <= 1.5 && itemSpread.median <= 1.1 && itemRss <= 128 ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const Options o = parse(argc, argv);
        return o.largeMb > 0 ? largeReply(o) : throughput(o);
    } catch (const ovk::Error& e) {
        std::cerr << "soap_calls_bench: " << e.description << " (" << e.number << ")\n";
    } catch (const std::exception& e) {
        std::cerr << "soap_calls_bench: " << e.what() << "\n";
    }
    return 1;
}
