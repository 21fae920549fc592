// SPDX-License-Identifier: MIT
// Fault injection: each kind, the operation and argument filters, and a clean stop while
// replies are held back.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <future>
#include <thread>

#include "soap_test_client.hpp"
#include "support/ref_service.hpp"

namespace ovk::test {
namespace {

Arguments itemArguments(const std::string& article) {
    auto args = projectArguments("demo", "DEMO", 1033);
    args.emplace_back("materialId", article);
    return args;
}

bool stoppedCleanly(int status) {
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(RefServiceFaults, Http500AnswersAPlainServerErrorOnlyForTheNamedOperation) {
    RefService service({"--fault", "GetItemData=http500"});
    const auto failed = call(service, "GetItemData", itemArguments("4711"));
    EXPECT_EQ(failed.status, 500);
    EXPECT_EQ(failed.document, nullptr);  // not a SOAP fault
    EXPECT_EQ(call(service, "HelloWorld").status, 200);
}

TEST(RefServiceFaults, SoapFaultAnswersAServerFault) {
    RefService service({"--fault", "getStructure=soapfault"});
    const auto reply = call(service, "getStructure", projectArguments("demo", "DEMO", 1033));
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.faultCode(), "soap:Server");
    EXPECT_FALSE(reply.faultString().empty());
}

TEST(RefServiceFaults, MalformedAnswersStatus200WithABodyNoParserAccepts) {
    RefService service({"--fault", "GetClientData=malformed"});
    const auto reply =
        call(service, "GetClientData", {{"clientId", "6103"}, {"guiLangId", "1033"}});
    EXPECT_EQ(reply.status, 200);
    EXPECT_FALSE(reply.body.empty());
    EXPECT_EQ(reply.document, nullptr);
}

// Oversized replies have exactly the size asked for and the shape their name promises.
TEST(RefServiceFaults, OversizedRepliesHaveTheirSizeAndShape) {
    const struct {
        const char* fault;
        int status;
        const char* inside;
    } cases[] = {
        {"GetClientData=elementstream:4K", 200, "<root><a/><a/>"},
        {"GetClientData=hugefault:4K", 500, "<faultstring>Injected fault text. Injected"},
        {"GetClientData=badcdata:4K", 200, "<![CDATA[\x01QUJD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        RefService service({"--fault", c.fault});
        const auto reply =
            call(service, "GetClientData", {{"clientId", "6103"}, {"guiLangId", "1033"}});
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.body.size(), 4096u);
        EXPECT_NE(reply.body.find(c.inside), std::string::npos) << reply.body.substr(0, 400);
        EXPECT_EQ(reply.body.substr(reply.body.size() - 16), "</soap:Envelope>");
    }
}

TEST(RefServiceFaults, TruncatedReplyEndsBeforeItsAnnouncedLength) {
    RefService service({"--fault", "GetItemData=truncated"});
    const auto reply = call(service, "GetItemData", itemArguments("4721"));
    EXPECT_EQ(reply.status, 0);
    EXPECT_FALSE(reply.error.empty());
    // The connection is dropped, not the service.
    EXPECT_EQ(call(service, "HelloWorld").status, 200);
}

TEST(RefServiceFaults, HangingReplyNeverComesButOtherRequestsAreServedAndTheServiceStillStops) {
    RefService service({"--fault", "GetItemData=hang@4711"});
    auto hanging = std::async(std::launch::async, [&] {
        return call(service, "GetItemData", itemArguments("4711"), 3600);
    });
    // Only the named article hangs; the service keeps answering meanwhile.
    EXPECT_EQ(call(service, "GetItemData", itemArguments("4712")).status, 200);
    EXPECT_EQ(call(service, "HelloWorld").status, 200);
    const auto gaveUp = call(service, "GetItemData", itemArguments("4711"), 1);
    EXPECT_EQ(gaveUp.status, 0);
    EXPECT_TRUE(stoppedCleanly(service.stop()));
    EXPECT_NE(hanging.get().status, 200);
}

TEST(RefServiceFaults, LatencyHeldRepliesDoNotDelayStopping) {
    RefService service({"--latency-ms", "600000"});
    auto pending =
        std::async(std::launch::async, [&] { return call(service, "HelloWorld", {}, 3600); });
    // Gives the request time to reach the service, so that it is held back when the stop
    // comes; should it come first, the test still holds, only less is exercised.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(stoppedCleanly(service.stop()));
    EXPECT_NE(pending.get().status, 200);
}

TEST(RefServiceFaults, ExceptionAnswersTheExceptionElementAndEmptyAnEmptyResult) {
    RefService service({"--fault", "GetDefaultSelect=exception", "--fault", "getTreeData=empty"});
    const auto exception =
        call(service, "GetDefaultSelect", projectArguments("demo", "DEMO", 1033));
    ASSERT_EQ(exception.resultElements().size(), 1u);
    EXPECT_EQ(exception.resultElements()[0].localName(), "Exception");
    EXPECT_EQ(exception.resultElements()[0].attribute("ID"), "32");

    auto args = projectArguments("demo", "DEMO", 1033);
    args.emplace_back("fieldList", "7");
    const auto empty = call(service, "getTreeData", args);
    EXPECT_EQ(empty.status, 200);
    ASSERT_TRUE(empty.result());
    EXPECT_FALSE(empty.result().hasChildNodes());
}

TEST(RefServiceFaults, ArgumentFilterAndWildcardPickTheCallsToDisturb) {
    RefService service({"--fault", "GetItemData=exception@4712", "--fault", "*=empty@NODEFAULT"});
    EXPECT_EQ(call(service, "GetItemData", itemArguments("4711")).resultElements()[0].localName(),
              "root");
    EXPECT_EQ(call(service, "GetItemData", itemArguments("4712")).resultElements()[0].localName(),
              "Exception");
    EXPECT_FALSE(call(service, "getStructure", projectArguments("nodefault", "NODEFAULT", 1033))
                     .result()
                     .hasChildNodes());
    EXPECT_TRUE(call(service, "getStructure", projectArguments("demo", "DEMO", 1033))
                    .result()
                    .hasChildNodes());
}

TEST(RefServiceFaults, ChosenVersionAndGreetingReplaceTheDefaults) {
    RefService service({"--client-version", "2.0.0", "--hello", "HELLO WORLD"});
    EXPECT_EQ(call(service, "HelloWorld").result().text(), "HELLO WORLD");
    const auto data = call(service, "GetClientData", {{"clientId", "6103"}, {"guiLangId", "1033"}});
    EXPECT_EQ(data.resultElements()[0].attributeAt(0), "2.0.0");
}

}  // namespace
}  // namespace ovk::test
