// Throughput of the Base64 codec on a 64 MiB payload, measured against memcpy of the same
// bytes in the same run, and the cost of a download list of 100,000 marked articles.
//
//   base64_bench [payload MiB] [rounds]

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "codec/encoding.hpp"
#include "util/download_items.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// The best of `rounds` runs: the figure least disturbed by whatever else the machine does.
template <class Work>
double bestSeconds(int rounds, Work&& work) {
    double best = 1e300;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

std::vector<uint8_t> randomBytes(std::size_t size) {
    std::vector<uint8_t> bytes(size);
    uint64_t state = 0x9E3779B97F4A7C15u;
    for (std::size_t i = 0; i < size; i += 8) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        std::memcpy(bytes.data() + i, &state, std::min<std::size_t>(8, size - i));
    }
    return bytes;
}

void report(const char* what, std::size_t bytes, double seconds, double memcpySeconds) {
    std::printf("%-28s %8.0f MB/s  %5.2f x memcpy   (%zu bytes in %.1f ms)\n", what,
                static_cast<double>(bytes) / seconds / 1e6, memcpySeconds / seconds, bytes,
                seconds * 1e3);
}

double milliseconds(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

int benchCodec(std::size_t payload, int rounds) {
    const ovk::Encoding encoding;
    const std::vector<uint8_t> plain = randomBytes(payload);
    std::vector<uint8_t> copy(payload);
    std::vector<uint8_t> encoded;
    std::vector<uint8_t> decoded;

    // Decoding is measured on a Base64 text of the payload's size.
    std::vector<uint8_t> text;
    encoding.EncodeB64(std::span(plain).first(payload / 4 * 3), text);

    // One untimed pass each, so that every buffer is allocated and touched before timing.
    std::memcpy(copy.data(), plain.data(), payload);
    encoding.EncodeB64(plain, encoded);
    encoding.DecodeB64(text, decoded);

    const double memcpySeconds =
        bestSeconds(rounds, [&] { std::memcpy(copy.data(), plain.data(), payload); });
    const double encodeSeconds = bestSeconds(rounds, [&] { encoding.EncodeB64(plain, encoded); });
    const double decodeSeconds = bestSeconds(rounds, [&] { encoding.DecodeB64(text, decoded); });
    const double memcpyTextSeconds =
        bestSeconds(rounds, [&] { std::memcpy(copy.data(), text.data(), text.size()); });

    std::printf("payload %zu bytes, best of %d rounds; MB = 10^6 bytes of input\n", payload,
                rounds);
    report("memcpy", payload, memcpySeconds, memcpySeconds);
    report("EncodeB64", payload, encodeSeconds, memcpySeconds);
    report("DecodeB64 (well-formed)", text.size(), decodeSeconds, memcpyTextSeconds);

    // Malformed input takes the exact path group by group; show what that costs.
    std::vector<uint8_t> damaged = text;
    for (std::size_t i = 0; i < damaged.size(); i += 4096) damaged[i] = '-';
    const double damagedSeconds =
        bestSeconds(rounds, [&] { encoding.DecodeB64(damaged, decoded); });
    report("DecodeB64 (1 bad in 4096)", damaged.size(), damagedSeconds, memcpyTextSeconds);

    std::vector<uint8_t> check;
    encoding.DecodeB64(encoded, check);
    if (check != plain) {
        std::fprintf(stderr, "round trip failed\n");
        return 1;
    }
    return 0;
}

int benchDownloadList(int count) {
    std::vector<std::string> ids;
    ids.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) ids.push_back(std::to_string(10000000 + i * 7));

    ovk::DownloadItems items;
    auto start = Clock::now();
    for (const auto& id : ids) items.Add(id, "ID_" + id);
    const double addMs = milliseconds(start);

    start = Clock::now();
    std::size_t found = 0;
    for (const auto& id : ids) found += items.Item("id_" + id) != nullptr;
    const double findMs = milliseconds(start);

    start = Clock::now();
    std::size_t walked = 0;
    for (const auto& item : items.NewEnum()) walked += item->ID().size() > 0;
    const double enumMs = milliseconds(start);

    start = Clock::now();
    for (int32_t position = 1; position <= items.Count(); ++position)
        walked += items.Item(position) != nullptr;
    const double positionMs = milliseconds(start);

    // "Reset Marking" over every row: each article removed by its key, in list order.
    start = Clock::now();
    for (const auto& id : ids) items.Remove("ID_" + id);
    const double removeMs = milliseconds(start);

    for (const auto& id : ids) items.Add(id, "ID_" + id);
    start = Clock::now();
    while (items.Count() > 0) items.Remove(1);
    const double removeFirstMs = milliseconds(start);

    std::printf("\ndownload list of %d marked articles\n", count);
    const std::pair<const char*, double> figures[] = {
        {"add with key", addMs},
        {"find by key", findMs},
        {"enumerate", enumMs},
        {"add + find + enumerate", addMs + findMs + enumMs},
        {"item at every position", positionMs},
        {"remove each by key", removeMs},
        {"remove position 1 until empty", removeFirstMs},
    };
    for (const auto& [what, ms] : figures) std::printf("  %-30s %8.1f ms\n", what, ms);
    if (found != ids.size() || walked != 2 * ids.size()) {
        std::fprintf(stderr, "download list lost members\n");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mebibytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    if (mebibytes == 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: base64_bench [payload MiB > 0] [rounds > 0]\n");
        return 2;
    }
    if (const int failed = benchCodec(mebibytes << 20, rounds)) return failed;
    return benchDownloadList(100000);
}
