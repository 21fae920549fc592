// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <memory>

#include "platform/errors.hpp"
#include "soap/call_trace.hpp"
#include "soap/soap_client.hpp"
#include "soap_test_support.hpp"
#include "temp_dir.hpp"

namespace ovk::soap {
namespace {

using namespace std::chrono_literals;

const std::vector<Argument> kItemArgs = {std::string("pw"), std::string("P1"), int16_t{1031},
                                         std::string("4711")};

class SoapClientFailures : public ::testing::Test {
  protected:
    void SetUp() override {
        client.initialize(dir.write("svc.wsdl", test::testWsdl(server.url())));
    }

    // Calls GetItemData, expects it to fail with `number`, and checks that the fault texts
    // were set and match the error; then the same for the call that reads its reply as it
    // goes, which must fail alike.
    Error expectFailure(int32_t number) {
        Error first;
        for (const bool streamed : {false, true}) {
            SCOPED_TRACE(streamed ? "streamed" : "whole");
            try {
                struct : xml::ElementEvents {
                    void startElement(int, std::span<const xml::AttributeView>) override {}
                    void endElement(int) override {}
                    void otherNode(int) override {}
                } ignore;
                if (streamed)
                    client.callStreamed("GetItemData", kItemArgs, ignore);
                else
                    client.call("GetItemData", kItemArgs);
                ADD_FAILURE() << "the call succeeded";
            } catch (const Error& e) {
                EXPECT_EQ(e.number, number) << e.description;
                EXPECT_EQ(e.source, "GetItemData");
                EXPECT_NE(client.faultCode(), "");
                EXPECT_NE(client.faultString(), "");
                if (!streamed) first = e;
            }
        }
        return first;
    }

    static SoapClientOptions quickRetries() {
        SoapClientOptions options;
        options.retry.firstWait = 1ms;
        return options;
    }

    test::SoapTestServer server;
    test::TempDir dir;
    SoapClient client{quickRetries()};
};

TEST_F(SoapClientFailures, SoapFaultTextsComeFromTheFault) {
    for (int status : {500, 200}) {
        SCOPED_TRACE(status);
        server.answerWith(test::soapFault("soap:Server", "Project unknown", "urn:svc/actor"),
                          status);
        const Error e = expectFailure(err::SoapFault);
        EXPECT_EQ(e.description, "Project unknown");
        EXPECT_EQ(client.faultCode(), "soap:Server");
        EXPECT_EQ(client.faultString(), "Project unknown");
        EXPECT_EQ(client.faultActor(), "urn:svc/actor");
    }
    server.answerWith(test::soapFault("soap:Client", "Bad request", ""), 500);
    expectFailure(err::SoapFault);
    EXPECT_EQ(client.faultActor(), server.url());  // a fault without actor names the end point
}

TEST_F(SoapClientFailures, HttpErrorWithoutFaultReportsTheStatusLine) {
    server.answerWith("<html><body>Internal error</body></html>", 500, "text/html");
    expectFailure(err::SoapHttpStatus);
    EXPECT_EQ(client.faultCode(), "Client.HttpStatus");
    EXPECT_EQ(client.faultString(), "HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(client.faultActor(), server.url());

    server.answerWith(test::soapResponse("GetItemData", "<root/>"), 404);  // an envelope, but 404
    expectFailure(err::SoapHttpStatus);
    EXPECT_EQ(client.faultString(), "HTTP/1.1 404 Not Found");

    server.answer(
        [](const httplib::Request&, httplib::Response& r) { r.set_redirect("ftp://elsewhere/"); });
    expectFailure(err::SoapHttpStatus);  // redirects are never followed
}

TEST_F(SoapClientFailures, RefusedConnectionIsAConnectionFailure) {
    std::string url;
    {
        test::SoapTestServer gone;
        url = gone.url();
    }
    client.setProperty("EndPointURL", url);
    expectFailure(err::SoapConnection);
    EXPECT_EQ(client.faultCode(), "Client.Connection");
    EXPECT_EQ(client.faultActor(), url);
}

TEST_F(SoapClientFailures, SlowServiceTimesOut) {
    server.answer([this](const httplib::Request&, httplib::Response& r) {
        server.stall(30s);
        r.set_content(test::soapResponse("GetItemData", "<root/>"), "text/xml");
    });
    client.setProperty("Timeout", 150.0);
    expectFailure(err::SoapTimeout);
    EXPECT_EQ(client.faultCode(), "Client.Timeout");
}

TEST_F(SoapClientFailures, ZeroTimeoutMeansTheDefaultBoundNotForever) {
    server.answer([this](const httplib::Request&, httplib::Response& r) {
        server.stall(30s);
        r.set_content(test::soapResponse("GetItemData", "<root/>"), "text/xml");
    });
    client.setDefaultTimeout(150ms);
    for (double timeout : {0.0, -5.0}) {
        client.setProperty("Timeout", timeout);
        expectFailure(err::SoapTimeout);
    }
}

TEST_F(SoapClientFailures, RepliesThatAreNotSoapAreMalformed) {
    const std::vector<std::string> replies = {
        "<soap:Envelope "
        "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>",  // cut
                                                                                 // short
        "not xml at all",
        "",
        "<Envelope><Body/></Envelope>",  // no SOAP namespace
        "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"/>",  // no
                                                                                      // body
        test::soapResponse("GetItemData", "<r><x:a/></r>"),  // an undeclared prefix
        // Faults found only after some of the value was read.
        test::soapResponse("GetItemData", "<r><a/><b></c></r>"),
        test::soapResponse("GetItemData", "<r><a/><b x='1' x='2'/></r>"),
        test::soapResponse("GetItemData", "<r><a/>x ]]> &nbsp;</r>"),
        test::soapResponse("GetItemData",
                           "<r><a/><b xmlns:p='urn:p' xmlns:q='urn:p' p:x='' q:x=''/></r>"),
        "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"b\">]>" +
            test::soapResponse("GetItemData", "&a;"),
    };
    for (const std::string& reply : replies) {
        SCOPED_TRACE(reply);
        server.answerWith(reply);
        expectFailure(err::SoapMalformedReply);
        EXPECT_EQ(client.faultCode(), "Client.MalformedReply");
    }
    EXPECT_NE(client.faultString().find("DOCTYPE"), std::string::npos);
}

TEST_F(SoapClientFailures, BodyShorterThanAnnouncedIsMalformed) {
    const std::string body = test::soapResponse("GetItemData", "<root>cut</root>");
    test::RawReplyServer raw("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                             std::to_string(body.size() + 500) + "\r\n\r\n" +
                             body.substr(0, body.size() - 20));
    client.setProperty("EndPointURL", raw.url());
    expectFailure(err::SoapMalformedReply);
}

TEST_F(SoapClientFailures, ReplyOverTheLimitIsRefused) {
    const std::string big =
        test::soapResponse("GetItemData", "<root>" + std::string(20000, 'x') + "</root>");
    client.setMaxReplyBytes(10000);
    server.answerWith(big);  // length announced up front
    expectFailure(err::SoapReplyTooLarge);
    EXPECT_EQ(client.faultCode(), "Client.ReplyTooLarge");
    server.answer(
        [big](const httplib::Request&, httplib::Response& r) {  // length found out on the way
            r.set_chunked_content_provider("text/xml", [big](size_t, httplib::DataSink& sink) {
                for (std::size_t at = 0; at < big.size(); at += 1000) {
                    if (!sink.write(big.data() + at, std::min<std::size_t>(1000, big.size() - at)))
                        return false;
                }
                sink.done();
                return true;
            });
        });
    expectFailure(err::SoapReplyTooLarge);
    client.setMaxReplyBytes(big.size());
    EXPECT_TRUE(client.call("GetItemData", kItemArgs).has_value());

    // Nesting is bounded too, however the reply is read.
    std::string deep;
    for (int level = 0; level < 1100; ++level) deep += "<a>";
    for (int level = 0; level < 1100; ++level) deep += "</a>";
    server.answerWith(test::soapResponse("GetItemData", deep));
    expectFailure(err::SoapReplyTooLarge);
    EXPECT_EQ(client.faultCode(), "Client.ReplyTooLarge");
}

// A small gzip body that inflates without end: the bound counts the inflated bytes and ends
// the transfer as soon as they pass it, long before the body has arrived.
TEST_F(SoapClientFailures, ACompressedReplyIsBoundByItsInflatedSize) {
    // 16 MB of gzip that would inflate to 16 GiB of zeros (more than the sockets between the
    // two ends can hold): one block of a MiB compressed with a full flush gives the same bytes
    // every time, so the body is that block again and again.
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    const std::string zeros(kMiB, '\0');
    z_stream stream{};
    ASSERT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY), Z_OK);
    const auto compress = [&] {
        std::string out(kMiB, '\0');
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
        stream.avail_in = static_cast<uInt>(zeros.size());
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = static_cast<uInt>(out.size());
        deflate(&stream, Z_FULL_FLUSH);
        out.resize(out.size() - stream.avail_out);
        return out;
    };
    const std::string first = compress(), block = compress();
    deflateEnd(&stream);
    const std::size_t blocks = 16384;
    const std::size_t length = first.size() + (blocks - 1) * block.size();
    auto sent = std::make_shared<std::atomic<std::size_t>>(0);
    // The server's thread may still be sending when the test ends: it keeps its own copies.
    server.answer([first, block, length, sent](const httplib::Request&, httplib::Response& r) {
        r.set_header("Content-Encoding", "gzip");
        r.set_content_provider(
            length, "text/xml",
            [first, block, sent](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                const std::string& piece = offset == 0 ? first : block;
                if (!sink.write(piece.data(), piece.size())) return false;
                *sent += piece.size();
                return true;
            });
    });
    client.setMaxReplyBytes(16 * kMiB);
    const Error e = expectFailure(err::SoapReplyTooLarge);
    EXPECT_NE(e.description.find(std::to_string(16 * kMiB)), std::string::npos) << e.description;
    EXPECT_LT(sent->load(), length / 2);
}

TEST_F(SoapClientFailures, BadCallsNeverReachTheService) {
    try {
        client.call("GetNothing", {});
        ADD_FAILURE() << "unknown operation accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.number, err::SoapBadCall);
        EXPECT_NE(e.description.find("GetNothing"), std::string::npos);
    }
    try {
        client.call("GetItemData", {std::string("only one")});
        ADD_FAILURE() << "wrong argument count accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.number, err::SoapBadCall);
        EXPECT_EQ(client.faultCode(), "Client.BadCall");
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(SoapClientFailures, CredentialsInTheEndPointNeverReachTheFaultTexts) {
    std::string url = server.url();
    url.insert(7, "user:topsecret@");
    client.setProperty("EndPointURL", url);
    server.answerWith("oops", 403, "text/plain");
    expectFailure(err::SoapHttpStatus);
    EXPECT_EQ(client.faultActor(), server.url());
}

std::string rawReply(const std::string& status, const std::string& body,
                     const std::string& headers = "") {
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/xml\r\nConnection: close\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Only what the network lost or cut, or a gateway refused, is made again, as often as allowed;
// whatever the service itself said in a whole reply stays said, and an exhausted retry reports
// the last failure.
TEST(SoapClientRetries, TransientFailuresAreMadeAgainAndNothingElseIs) {
    using Raw = test::RawReplyServer;
    const std::string ok = rawReply("200 OK", test::soapResponse("GetItemData", "<root/>"));
    const std::string busy = rawReply("503 Service Unavailable", "busy");
    const std::string fault =
        rawReply("500 Internal Server Error", test::soapFault("soap:Server", "No such item", ""));
    const std::string cut =
        rawReply("200 OK", test::soapResponse("GetItemData", "<root/>")).substr(0, 150);
    const std::string large =
        rawReply("200 OK", test::soapResponse("GetItemData", std::string(5000, 'x')));
    const std::string badGateway = rawReply("502 Bad Gateway", "");
    const std::string gatewayTimeout = rawReply("504 Gateway Timeout", "");
    const std::string pastDate =
        rawReply("503 Busy", "", "Retry-After: Wed, 21 Oct 2015 07:28:00 GMT\r\n");
    const std::string busyFault = rawReply("503 Busy", test::soapFault("soap:Server", "busy", ""));
    const std::string plain500 = rawReply("500 Internal Server Error", "oops");
    const std::string resetInside = std::string(Raw::kResetAfter) + ok.substr(0, ok.size() / 2);
    const std::string cut500 = plain500.substr(0, plain500.size() - 2);
    const std::string cut503 = busy.substr(0, busy.size() - 2);
    const std::string stallInside = std::string(Raw::kStallAfter) + ok.substr(0, ok.size() / 2);
    struct Case {
        const char* what;
        std::vector<std::string> script;
        int attempts;
        int32_t failure;  // 0: the call succeeds
        int requests;
        double timeoutMs = 0;
    };
    const std::vector<Case> cases = {
        {"dropped", {Raw::kDrop, ok}, 3, 0, 2},
        {"reset", {Raw::kReset, Raw::kReset, ok}, 3, 0, 3},
        {"gateways", {badGateway, gatewayTimeout, ok}, 3, 0, 3},
        {"503 with a past date", {pastDate, ok}, 3, 0, 2},
        {"503 with a fault body", {busyFault, ok}, 3, 0, 2},
        {"503 beyond the bound", {busy}, 3, err::SoapHttpStatus, 4},
        {"dropped beyond the bound", {Raw::kDrop}, 2, err::SoapConnection, 3},
        {"retries off", {busy, ok}, 0, err::SoapHttpStatus, 1},
        {"plain 500", {plain500, ok}, 3, err::SoapHttpStatus, 1},
        {"fault", {fault, ok}, 3, err::SoapFault, 1},
        {"malformed", {rawReply("200 OK", "<not xml"), ok}, 3, err::SoapMalformedReply, 1},
        {"cut", {cut, ok}, 3, 0, 2},
        {"reset inside the reply", {resetInside, cut, ok}, 3, 0, 3},
        {"cut 503", {cut503, ok}, 3, 0, 2},
        {"cut beyond the bound", {cut}, 2, err::SoapMalformedReply, 3},
        {"cut, retries off", {cut, ok}, 0, err::SoapMalformedReply, 1},
        {"cut 500", {cut500, ok}, 3, err::SoapMalformedReply, 1},
        {"timed out inside the reply", {stallInside, ok}, 3, 0, 2, 400},
        {"too large", {large, ok}, 3, err::SoapReplyTooLarge, 1},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Raw server(c.script);
        SoapClientOptions options;
        options.retry.firstWait = 1ms;
        options.maxReplyBytes = 4000;
        SoapClient client(options);
        client.initialize(dir.write("svc.wsdl", test::testWsdl(server.url())));
        client.setRetryAttempts(c.attempts);
        if (c.timeoutMs > 0) client.setProperty("Timeout", c.timeoutMs);
        try {
            client.call("GetItemData", kItemArgs);
            EXPECT_EQ(c.failure, 0) << "the call succeeded";
            EXPECT_EQ(client.faultCode(), "");
        } catch (const Error& e) {
            EXPECT_EQ(e.number, c.failure) << e.description;
        }
        EXPECT_EQ(server.requests(), c.requests);
    }
}

// libcurl sends a request once more when a kept-alive connection turns out closed before any
// byte of the reply came: the service received it twice, and the trace says so, even with
// retries off.
TEST(SoapClientRetries, TheTraceShowsEveryRequestTheServiceReceived) {
    const std::string keptReply =
        "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
        std::to_string(test::soapResponse("GetItemData", "<root/>").size()) + "\r\n\r\n" +
        test::soapResponse("GetItemData", "<root/>");
    test::RawReplyServer server({std::string(test::RawReplyServer::kKeepOpen) + keptReply,
                                 test::RawReplyServer::kDrop,
                                 rawReply("200 OK", test::soapResponse("GetItemData", "<a/>"))});
    test::TempDir dir;
    SoapClient client;
    client.initialize(dir.write("svc.wsdl", test::testWsdl(server.url())));
    client.setRetryAttempts(0);
    client.setTrace(std::make_shared<CallTrace>(dir / "trace.jsonl", false));
    client.call("GetItemData", kItemArgs);
    client.call("GetItemData", kItemArgs);
    EXPECT_EQ(server.requests(), 3);
    EXPECT_EQ(client.attemptsMade(), 1);
    const std::string trace = test::readAll(dir / "trace.jsonl");
    EXPECT_EQ(std::count(trace.begin(), trace.end(), '\n'), 3) << trace;
    EXPECT_NE(trace.find("\"outcome\":\"resent: the kept-alive connection had closed\""),
              std::string::npos)
        << trace;
}

// Without Retry-After the waits start at the first wait and double, each stretched by up to
// half again, up to the longest wait: 0.5 s, 1 s, 2 s ... before the stretch. With a fixed
// seed the schedule is exact.
TEST(SoapClientRetries, WaitsDoubleFromTheFirstWaitStretchedByUpToHalfAgain) {
    const RetryPolicy policy;
    std::minstd_rand random(2024);
    std::vector<long long> waits;
    for (int repeat = 1; repeat <= 8; ++repeat)
        waits.push_back(policy.waitBefore(repeat, "", random).count());
    EXPECT_EQ(waits, (std::vector<long long>{511, 1052, 2137, 5243, 8569, 23457, 30000, 30000}));
    for (int repeat = 1; repeat <= 8; ++repeat) {
        const long long base = std::min(500LL << (repeat - 1), 30000LL);
        EXPECT_GE(waits[repeat - 1], base) << repeat;
        EXPECT_LE(waits[repeat - 1], std::min(base + base / 2, 30000LL)) << repeat;
    }
}

// The service's Retry-After is kept, up to the longest wait allowed.
TEST(SoapClientRetries, RetryAfterIsHonouredUpToTheBound) {
    test::TempDir dir;
    test::RawReplyServer server({rawReply("503 Service Unavailable", "", "Retry-After: 3600\r\n"),
                                 rawReply("200 OK", test::soapResponse("GetItemData", "<root/>"))});
    SoapClientOptions options;
    options.retry.firstWait = 1ms;  // far shorter than what the service asks
    options.retry.longestWait = 300ms;
    SoapClient client(options);
    client.initialize(dir.write("svc.wsdl", test::testWsdl(server.url())));
    int hookCalls = 0;
    client.setWaitHook([&] { ++hookCalls; });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(client.call("GetItemData", kItemArgs).has_value());
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 290ms);
    EXPECT_LT(waited, 5s);
    EXPECT_GE(hookCalls, 3);  // the windows keep painting while the call waits
}

// A certificate nobody vouches for must stop the call: verification is never switched off.
TEST(SoapClientTls, UntrustedCertificateIsAConnectionFailure) {
    test::TempDir dir;
    const std::string cert = (dir / "cert.pem").string(), key = (dir / "key.pem").string();
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1"
        " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
        key + "' -out '" + cert + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "openssl cannot make a test certificate";

    httplib::SSLServer server(cert.c_str(), key.c_str());
    server.Post(R"(.*)", [](const httplib::Request&, httplib::Response& r) {
        r.set_content(test::soapResponse("HelloWorld", "Hello World"), "text/xml");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread thread([&] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(1ms);

    SoapClient client;
    client.initialize(dir.write("svc.wsdl", test::testWsdl()));
    client.setProperty("EndPointURL", "https://127.0.0.1:" + std::to_string(port) + "/");
    try {
        client.callText("HelloWorld", {});
        ADD_FAILURE() << "a self-signed certificate was accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.number, err::SoapConnection);
        EXPECT_NE(client.faultString().find("certificate"), std::string::npos)
            << client.faultString();
    }
    server.stop();
    thread.join();
}

}  // namespace
}  // namespace ovk::soap
