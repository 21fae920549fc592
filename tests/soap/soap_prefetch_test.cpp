// SPDX-License-Identifier: MIT
// Calls announced ahead: fetched on further connections, yet every call must end exactly as it
// would one at a time.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.hpp"
#include "ref_service.hpp"
#include "soap/call_trace.hpp"
#include "soap/soap_client.hpp"
#include "temp_dir.hpp"

namespace ovk::soap {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::vector<std::string> kArticles = {"4711", "4712", "4713", "4714", "4720"};

std::vector<Argument> itemArgs(const std::string& id) {
    return {std::string("demo"), std::string("DEMO"), int16_t{1033}, id};
}

std::string describe(const xml::Node& node) {
    std::string text = node.name() + "[" + node.text() + "]";
    for (xml::Node child = node.firstChild(); child; child = child.nextSibling())
        text += describe(child);
    return text;
}

// What a caller can see of one call: the reply, or the error with the three fault texts.
std::string outcome(SoapClient& client, const std::string& id) {
    try {
        const auto reply = client.call("GetItemData", itemArgs(id));
        std::string text = "reply:";
        if (reply)
            for (const xml::Node& node : *reply) text += describe(node);
        return text;
    } catch (const Error& e) {
        return "error " + std::to_string(e.number) + ": " + e.description + " | " +
               client.faultCode() + " | " + client.faultString() + " | " + client.faultActor();
    }
}

std::vector<std::string> downloadAll(const std::string& url, int inFlight, bool helloFirst = false,
                                     std::shared_ptr<CallTrace> trace = nullptr) {
    SoapClient client;
    client.initialize(OVK_DATA_DIR "/VelmoraSvr.wsdl");
    client.setTrace(std::move(trace));
    client.setProperty("EndPointURL", url);
    // As Init does before a download: the client's own connection is open and idle.
    if (helloFirst) client.callText("HelloWorld", {});
    // Small enough that the oversized reply is refused the same way on both paths.
    client.setMaxReplyBytes(1 << 20);
    client.setMaxRequestsInFlight(inFlight);
    for (const auto& id : kArticles) client.prefetch("GetItemData", itemArgs(id));
    std::vector<std::string> outcomes;
    for (const auto& id : kArticles) outcomes.push_back(outcome(client, id));
    return outcomes;
}

TEST(SoapClientPrefetch, EveryReplyAndEveryFailureIsWhatTheCallGivesOneAtATime) {
    const std::vector<std::string> faults = {
        "",
        "GetItemData=soapfault@4713",
        "GetItemData=http500@4713",
        "GetItemData=malformed@4713",
        "GetItemData=truncated@4713",
        "GetItemData=exception@4713",
        "GetItemData=empty@4713",
        "GetItemData=elementstream:4M@4713",
        "GetItemData=http503:0@4713",
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.empty() ? "no fault" : fault);
        std::vector<std::string> args{"--latency-ms", "30"};
        if (!fault.empty()) args.insert(args.end(), {"--fault", fault});
        test::RefService service(args);
        const auto oneAtATime = downloadAll(service.url(), 1);
        const auto ahead = downloadAll(service.url(), 4);
        ASSERT_EQ(oneAtATime.size(), ahead.size());
        for (std::size_t i = 0; i < ahead.size(); ++i)
            EXPECT_EQ(ahead[i], oneAtATime[i]) << "article " << kArticles[i];
        EXPECT_EQ(oneAtATime[0].rfind("reply:", 0), 0u) << oneAtATime[0];
        // The replies really came ahead, within the bound.
        const std::string output = service.stopAndReadOutput();
        const auto at = output.rfind("most requests at once: ");
        ASSERT_NE(at, std::string::npos) << output;
        const int most = std::stoi(output.substr(at + 23));
        EXPECT_GE(most, 2);
        EXPECT_LE(most, 4);
    }
}

// Replies fetched ahead that a busy service refused are asked for again by their own call, so
// every article still comes, in order, as a fault-free run gives it.
TEST(SoapClientPrefetch, RefusedRepliesAreFetchedAgainAndStillComeInOrder) {
    test::RefService service({"--latency-ms", "30", "--fault", "GetItemData=http503:0@4712x2",
                              "--fault", "GetItemData=http503:0@4714x3"});
    const auto ahead = downloadAll(service.url(), 4);
    // Every refusal is used up now.
    EXPECT_EQ(ahead, downloadAll(service.url(), 1));
    for (const auto& outcome : ahead) EXPECT_EQ(outcome.rfind("reply:", 0), 0u) << outcome;
    // A call made again counts against the bound as much as the replies fetched ahead.
    const std::string output = service.stopAndReadOutput();
    const auto at = output.rfind("most requests at once: ");
    ASSERT_NE(at, std::string::npos) << output;
    EXPECT_LE(std::stoi(output.substr(at + 23)), 4);
}

// A server that serves one keep-alive connection at a time (HTTP allows it) never answers the
// posts ahead while the client's own connection, or one of them, stays open: the calls fall
// back to one at a time within about a second and every reply still comes, in order. A service
// that is merely slow to begin every reply keeps its replies fetched ahead.
TEST(SoapClientPrefetch, AServerOfOneConnectionAtATimeStillAnswersEveryCallInOrder) {
    for (const bool slow : {false, true}) {
        SCOPED_TRACE(slow ? "slow service" : "one connection at a time");
        for (const bool helloFirst : {false, true}) {
            if (slow && !helloFirst) continue;  // nothing tells slow from stuck before a call
            SCOPED_TRACE(helloFirst ? "own connection open" : "only posts ahead");
            test::RefService service(slow ? std::vector<std::string>{"--latency-ms", "1200"}
                                          : std::vector<std::string>{"--one-connection"});
            const test::TempDir dir;
            const auto start = Clock::now();
            const auto ahead = downloadAll(service.url(), 4, helloFirst,
                                           std::make_shared<CallTrace>(dir / "trace", false));
            // A hang would last the time-out, three minutes.
            EXPECT_LT(Clock::now() - start, milliseconds(20000));
            for (const auto& outcome : ahead) EXPECT_EQ(outcome.rfind("reply:", 0), 0u) << outcome;
            if (!slow) {
                EXPECT_EQ(ahead, downloadAll(service.url(), 1, helloFirst));
            }
            const std::string trace = test::readAll(dir / "trace");
            EXPECT_EQ(trace.find("retried one at a time") == std::string::npos, slow) << trace;
        }
    }
}

// Replies still on their way or being read when the loop stops, or when the client goes, end
// with it: nothing waits for a service that never answers.
TEST(SoapClientPrefetch, FetchesUnderWayEndWithTheLoopAndWithTheClient) {
    test::RefService service(
        {"--fault", "GetItemData=hang@4712", "--fault", "GetItemData=elementstream:8M@4714"});
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "client destroyed" : "announced calls dropped");
        auto client = std::make_unique<SoapClient>();
        client->initialize(OVK_DATA_DIR "/VelmoraSvr.wsdl");
        client->setProperty("EndPointURL", service.url());
        client->setMaxRequestsInFlight(4);
        for (const auto& id : kArticles) client->prefetch("GetItemData", itemArgs(id));
        EXPECT_NE(client->call("GetItemData", itemArgs("4711")), std::nullopt);
        std::this_thread::sleep_for(milliseconds(200));
        const auto start = Clock::now();
        if (destroy) {
            client.reset();
        } else {
            client->dropPrefetched();
            // Dropped means dropped: the call goes out anew and is answered.
            EXPECT_NE(client->call("GetItemData", itemArgs("4713")), std::nullopt);
        }
        EXPECT_LT(Clock::now() - start, milliseconds(3000));
    }
}

TEST(SoapClientPrefetch, TheTimeOutCountsFromTheCallAndTheWaitHookRuns) {
    test::RefService service({"--fault", "GetItemData=hang@4712"});
    SoapClient client;
    client.initialize(OVK_DATA_DIR "/VelmoraSvr.wsdl");
    client.setProperty("EndPointURL", service.url());
    client.setProperty("Timeout", 400.0);
    client.setMaxRequestsInFlight(4);
    int hookCalls = 0;
    client.setWaitHook([&] { ++hookCalls; });
    for (const auto& id : kArticles) client.prefetch("GetItemData", itemArgs(id));

    EXPECT_NE(client.call("GetItemData", itemArgs("4711")), std::nullopt);
    // Longer than the time-out: a bound counted from the fetch's start would be spent already.
    std::this_thread::sleep_for(milliseconds(600));
    const auto start = Clock::now();
    try {
        client.call("GetItemData", itemArgs("4712"));
        ADD_FAILURE() << "a reply that never comes must time out";
    } catch (const Error& e) {
        EXPECT_EQ(e.number, err::SoapTimeout) << e.description;
        EXPECT_EQ(client.faultCode(), "Client.Timeout");
    }
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, milliseconds(350));
    EXPECT_LT(waited, milliseconds(5000));
    EXPECT_GE(hookCalls, 3);

    // The loop stops there; what was fetched ahead is dropped and later calls go out anew.
    client.dropPrefetched();
    EXPECT_NE(client.call("GetItemData", itemArgs("4713")), std::nullopt);
    EXPECT_EQ(client.faultCode(), "");
}

}  // namespace
}  // namespace ovk::soap
