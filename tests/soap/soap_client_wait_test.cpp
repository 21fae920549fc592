// SPDX-License-Identifier: MIT
// The wait hook: how a desktop keeps its windows painted while the service thinks.

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <vector>

#include "platform/errors.hpp"
#include "ref_service.hpp"
#include "soap/soap_client.hpp"
#include "soap_test_support.hpp"
#include "temp_dir.hpp"

namespace ovk::soap {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(SoapClientWaitHook, RunsOftenWhileASlowServiceThinksAndNeverStartsASecondCall) {
    test::RefService service({"--latency-ms", "400"});
    SoapClient client;
    client.initialize(OVK_DATA_DIR "/VelmoraSvr.wsdl");
    client.setProperty("EndPointURL", service.url());

    std::vector<Clock::time_point> calls;
    int nestedRefused = 0;
    client.setWaitHook([&] {
        calls.push_back(Clock::now());
        // What a timer or a repaint handler might try: it must not disturb the call waiting.
        try {
            client.callText("HelloWorld", {});
        } catch (const Error& e) {
            if (e.number == err::SoapBadCall) ++nestedRefused;
        }
    });

    EXPECT_EQ(client.callText("HelloWorld", {}), "Hello World");
    EXPECT_EQ(client.faultCode(), "");
    // 400 ms at one call every 50 ms or so; the bound is loose for a busy machine.
    EXPECT_GE(calls.size(), 4u);
    EXPECT_EQ(nestedRefused, static_cast<int>(calls.size()));
    for (std::size_t i = 1; i < calls.size(); ++i)
        EXPECT_GE(calls[i] - calls[i - 1], milliseconds(40)) << "call " << i;

    // The time-out still bounds a call that waits with a hook.
    client.setProperty("Timeout", 100.0);
    try {
        client.callText("HelloWorld", {});
        ADD_FAILURE() << "a 100 ms time-out against a 400 ms service must fail";
    } catch (const Error& e) {
        EXPECT_EQ(e.number, err::SoapTimeout);
    }
}

TEST(SoapClientWaitHook, CallsWithAHookStillShareOneConnection) {
    test::SoapTestServer server;
    test::TempDir dir;
    SoapClient client;
    client.initialize(dir.write("VelmoraSvr.wsdl", test::testWsdl(server.url())));
    server.answerWith(test::soapResponse("HelloWorld", "Hello World"));
    client.setWaitHook([] {});
    for (int i = 0; i < 5; ++i) EXPECT_EQ(client.callText("HelloWorld", {}), "Hello World");
    std::set<int> ports;
    for (const auto& request : server.requests()) ports.insert(request.remotePort);
    EXPECT_EQ(server.requests().size(), 5u);
    EXPECT_EQ(ports.size(), 1u);
}

}  // namespace
}  // namespace ovk::soap
