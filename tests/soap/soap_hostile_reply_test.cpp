// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <chrono>

#include "platform/errors.hpp"
#include "ref_service.hpp"
#include "soap/soap_client.hpp"

namespace ovk::soap {
namespace {

// Replies a broken or hostile service may send: each ends in a clear error, promptly, and no
// text the host gets to see carries more than a few KiB of it.
TEST(SoapClientHostileReplies, EndInAClearErrorWithinTheirBounds) {
    const struct {
        const char* fault;
        std::uint64_t maxReplyBytes;
        int32_t number;
        const char* inDescription;
    } cases[] = {
        {"elementstream:48M", std::uint64_t{1} << 30, err::SoapReplyTooLarge,
         "holds more elements"},
        {"elementstream:48M", 4 << 20, err::SoapReplyTooLarge, "larger than the limit of 4194304"},
        {"hugefault:16M", std::uint64_t{1} << 30, err::SoapFault, "Injected fault text."},
        {"badcdata:16M", std::uint64_t{1} << 30, err::SoapMalformedReply, "not well-formed"},
        // 4 GiB from a few megabytes: refused once past 64 MiB, not at the reply limit
        {"gzipbomb:4G", std::uint64_t{2} << 30, err::SoapReplyTooLarge,
         "more than 200 times its compressed size"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        test::RefService service({"--fault", std::string("GetClientData=") + c.fault});
        SoapClient client;
        client.initialize(OVK_DATA_DIR "/VelmoraSvr.wsdl");
        client.setProperty("EndPointURL", service.url());
        client.setMaxReplyBytes(c.maxReplyBytes);
        const auto start = std::chrono::steady_clock::now();
        try {
            client.call("GetClientData", {std::string("6103"), int16_t{1033}});
            ADD_FAILURE() << "the reply was accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.number, c.number) << e.description;
            EXPECT_NE(e.description.find(c.inDescription), std::string::npos) << e.description;
            EXPECT_LE(e.description.size(), 4096u + 3);
            EXPECT_LE(client.faultString().size(), 4096u + 3);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    }
}

}  // namespace
}  // namespace ovk::soap
