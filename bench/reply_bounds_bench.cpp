// SPDX-License-Identifier: MIT
// Memory and time of one hostile reply: a single GetClientData call through SoapClient against
// a service (ovk-refservice with an oversized fault), with the peak resident set size of this
// process, the time the call took, and how it failed. One process per reply, so that each peak
// is its own. The figures are ratios against the bytes the service sent (--bytes).

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/errors.hpp"
#include "platform/text.hpp"
#include "soap/soap_client.hpp"

namespace {

long maxRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    std::string endpoint;
    std::string label = "reply";
    double bytes = 0;
    double timeoutMs = 180000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--endpoint") endpoint = argv[i + 1];
        if (option == "--label") label = argv[i + 1];
        if (option == "--bytes") bytes = std::atof(argv[i + 1]);
        if (option == "--timeout-ms") timeoutMs = std::atof(argv[i + 1]);
    }
    if (endpoint.empty()) {
        std::fprintf(stderr,
                     "usage: reply_bounds_bench --endpoint URL [--bytes N] [--label TEXT] "
                     "[--timeout-ms MS]\n");
        return 2;
    }
    ovk::soap::SoapClient client;
    client.initialize(OVK_DATA_DIR "/VelmoraSvr.wsdl");
    client.setProperty("EndPointURL", endpoint);
    client.setProperty("Timeout", timeoutMs);
    const long before = maxRssKiB();
    const auto start = std::chrono::steady_clock::now();
    std::string outcome = "accepted";
    try {
        client.call("GetClientData", {std::string("6103"), std::int16_t{1033}});
    } catch (const ovk::Error& e) {
        outcome = std::to_string(e.number) + " " + ovk::boundedText(e.description, 160) +
                  " (fault string " + std::to_string(client.faultString().size()) + " bytes)";
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double peakMiB = maxRssKiB() / 1024.0;
    const double bytesMiB = bytes / (1 << 20);
    std::printf(
        "%-28s %8.0f MiB sent  peak RSS %7.1f MiB (%.1f before)  bound %7.1f MiB  "
        "%6.2f s  %s\n",
        label.c_str(), bytesMiB, peakMiB, before / 1024.0, 2 * bytesMiB + 64, seconds,
        outcome.c_str());
    return peakMiB <= 2 * bytesMiB + 64 ? 0 : 1;
}
