// SPDX-License-Identifier: MIT
// Any service description either reads or fails with a WSDL error; every request built from
// what it read is well-formed XML that the service side can parse.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.hpp"
#include "soap/envelope.hpp"
#include "soap/service_description.hpp"
#include "xml/document.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::optional<ovk::soap::ServiceDescription> description;
    try {
        description = ovk::soap::ServiceDescription::parse(text, "fuzz");
    } catch (const ovk::Error& e) {
        if (e.number != ovk::err::SoapWsdl) std::abort();
        return 0;
    }
    // Arguments of every kind, including text that needs escaping.
    const std::vector<ovk::soap::Argument> kinds = {std::string("a<b>&'\"]]>"), int16_t{-1},
                                                    int32_t{70000}, 2.5, true};
    for (const auto& [name, operation] : description->operations()) {
        std::vector<ovk::soap::Argument> args;
        for (std::size_t i = 0; i < operation.parameters.size(); ++i)
            args.push_back(kinds[i % kinds.size()]);
        std::string request;
        try {
            request = ovk::soap::buildRequestEnvelope(operation, args);
        } catch (const ovk::Error&) {
            continue;  // an operation the client cannot call says so
        }
        try {
            (void)ovk::xml::Document::loadMemory(request, ovk::xml::Source::ServiceReply);
        } catch (const ovk::Error&) {
            std::abort();  // the client built a request that is not XML
        }
    }
    return 0;
}
