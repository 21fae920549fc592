// SPDX-License-Identifier: MIT
// Throughput of the Base64 codec on a 64 MiB payload into fresh outputs, measured against
// memcpy of the same bytes in the same run, and the cost of a download list of 100,000 marked
// articles.
//
//   base64_bench [payload MiB] [rounds]

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "codec/base64_kernels.hpp"
#include "codec/base64_text.hpp"
#include "codec/byte_buffer.hpp"
#include "codec/encoding.hpp"
#include "util/download_items.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// Processor time of this thread, its page faults included. The machines these figures come
// from are shared: wall time would also count the slices other processes get meanwhile.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

template <class Work>
double threadSecondsOf(Work&& work) {
    const double start = threadSeconds();
    work();
    return threadSeconds() - start;
}

double median(std::vector<double> figures) {
    std::sort(figures.begin(), figures.end());
    return figures[figures.size() / 2];
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

double gigabytesPerSecond(std::size_t bytes, double seconds) {
    return static_cast<double>(bytes) / seconds / 1e9;
}

// One codec figure beside memcpy of the same input size, round by round: into a fresh buffer
// (what the codec's callers get, so both sides pay for fresh pages) and into a warm one (the
// bare copy speed of this machine). The ratios are the copy's time over the codec's in each
// round: above 1, the codec is faster than copying.
struct Figure {
    const char* what;
    std::size_t bytes;
    std::vector<double> seconds;
    std::vector<double> freshRatios;
    std::vector<double> warmRatios;
};

void report(const Figure& f) {
    std::printf(
        "%-36s %6.2f GB/s   x memcpy fresh min %5.2f median %5.2f   x memcpy warm min "
        "%5.2f median %5.2f\n",
        f.what, gigabytesPerSecond(f.bytes, median(f.seconds)),
        *std::min_element(f.freshRatios.begin(), f.freshRatios.end()), median(f.freshRatios),
        *std::min_element(f.warmRatios.begin(), f.warmRatios.end()), median(f.warmRatios));
}

double milliseconds(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// Keeps the compiler from dropping work whose result is never looked at.
volatile uint8_t sink;

template <class Bytes>
void consume(const Bytes& bytes) {
    if (!bytes.empty()) sink = bytes[bytes.size() / 2];
}

// Fresh buffers normally get the pages of the one released before, as a payload after
// another does; NewPages makes every fresh buffer start on pages the kernel must supply.
enum class Pages { Recycled, New };

// Times `work` and the two copies of `source` round by round, the codec first in one round and
// last in the next, so that all three see the same load on a shared machine.
template <class Work>
Figure measure(const char* what, std::span<const uint8_t> source, int rounds, Work&& work,
               Pages pages = Pages::Recycled) {
    std::vector<uint8_t> warm(source.begin(), source.end());
    auto prepare = [&] {
        if (pages == Pages::New) ovk::codec_detail::releaseIdleBytes();
    };
    prepare();
    work();  // the first run allocates whatever it keeps
    Figure f{what, source.size(), {}, {}, {}};
    for (int i = 0; i < rounds; ++i) {
        double codec = 0;
        const auto runCodec = [&] {
            prepare();
            codec = threadSecondsOf(work);
        };
        if (i % 2 == 0) runCodec();
        prepare();
        const double fresh = threadSecondsOf([&] {
            ovk::ByteBuffer buffer;
            buffer.resize(source.size());
            std::memcpy(buffer.data(), source.data(), source.size());
            consume(buffer);
        });
        const double copy = threadSecondsOf([&] {
            std::memcpy(warm.data(), source.data(), source.size());
            consume(warm);
        });
        if (i % 2 == 1) runCodec();
        f.seconds.push_back(codec);
        f.freshRatios.push_back(fresh / codec);
        f.warmRatios.push_back(copy / codec);
    }
    return f;
}

// Encoding and decoding into fresh outputs, as the component's callers get them, with the
// allocation and release of the output counted on both sides; into a reused output and with
// the portable code for comparison.
int benchCodec(std::size_t payload, int rounds) {
    namespace detail = ovk::codec_detail;
    const ovk::Encoding encoding;
    const ovk::Encoding portable(detail::kPortableBase64Kernels);
    const std::vector<uint8_t> plain = randomBytes(payload);
    // Decoding is measured on a Base64 text of the payload's size.
    std::vector<uint8_t> text;
    encoding.EncodeB64(std::span(plain).first(payload / 4 * 3), text);
    // The same text as MIME encoders and several SOAP stacks send it: lines of 76 and CR LF.
    std::vector<uint8_t> wrapped;
    for (std::size_t at = 0; at < text.size(); at += 76) {
        const std::size_t line = std::min<std::size_t>(76, text.size() - at);
        wrapped.insert(wrapped.end(), text.begin() + static_cast<std::ptrdiff_t>(at),
                       text.begin() + static_cast<std::ptrdiff_t>(at + line));
        wrapped.insert(wrapped.end(), {'\r', '\n'});
    }
    std::vector<uint8_t> damaged = text;
    for (std::size_t i = 0; i < damaged.size(); i += 4096) damaged[i] = '-';

    auto encodeFresh = [&](const ovk::Encoding& codec) {
        return [&] {
            ovk::ByteBuffer out;
            codec.EncodeB64(plain, out);
            consume(out);
        };
    };
    auto decodeFresh = [&](const ovk::Encoding& codec, const std::vector<uint8_t>& in) {
        return [&] {
            ovk::ByteBuffer out;
            codec.DecodeB64(in, out);
            consume(out);
        };
    };
    // What the payload writer does: the text decoded a piece at a time, each piece handed on
    // (here copied into one fresh output of the final size, where the writer writes a file).
    auto decodeText = [&](const std::vector<uint8_t>& in) {
        return [&] {
            ovk::ByteBuffer out;
            out.resize(text.size() / 4 * 3);
            std::size_t at = 0;
            ovk::DecodeBase64Text(
                std::string_view(reinterpret_cast<const char*>(in.data()), in.size()), encoding,
                [&](const auto& produce) {
                    at = 0;
                    produce([&](std::string_view bytes) {
                        std::memcpy(out.data() + at, bytes.data(), bytes.size());
                        at += bytes.size();
                    });
                });
            consume(out);
        };
    };
    ovk::ByteBuffer reused;

    const auto& fastest = detail::fastestBase64Kernels();
    std::printf(
        "payload %zu bytes, %d rounds in thread time, codec and copies in turn, kernels: %s; GB = "
        "10^9 bytes of input (median)\n",
        payload, rounds, fastest.name);
    // Every other vector kernel set this processor runs, for machines that lack the widest.
    std::vector<std::pair<std::string, ovk::Encoding>> narrower;
    for (const auto* kernels : detail::availableBase64Kernels()) {
        if (kernels == &fastest || kernels == &detail::kPortableBase64Kernels) continue;
        narrower.emplace_back(std::string("  the same, ") + kernels->name + " kernels",
                              ovk::Encoding(*kernels));
    }

    const Figure encode =
        measure("EncodeB64 into a fresh buffer", plain, rounds, encodeFresh(encoding));
    report(encode);
    report(
        measure("  the same, each on new pages", plain, rounds, encodeFresh(encoding), Pages::New));
    for (const auto& [what, codec] : narrower)
        report(measure(what.c_str(), plain, rounds, encodeFresh(codec)));
    report(measure("  the same, portable code", plain, rounds, encodeFresh(portable)));
    report(measure("  into a reused buffer", plain, rounds,
                   [&] { encoding.EncodeB64(plain, reused); }));

    const Figure decode =
        measure("DecodeB64 into a fresh buffer", text, rounds, decodeFresh(encoding, text));
    report(decode);
    report(measure("  the same, each on new pages", text, rounds, decodeFresh(encoding, text),
                   Pages::New));
    for (const auto& [what, codec] : narrower)
        report(measure(what.c_str(), text, rounds, decodeFresh(codec, text)));
    report(measure("  the same, portable code", text, rounds, decodeFresh(portable, text)));
    report(
        measure("  into a reused buffer", text, rounds, [&] { encoding.DecodeB64(text, reused); }));
    report(measure("  into a fresh, cleared std::vector", text, rounds, [&] {
        std::vector<uint8_t> out;
        encoding.DecodeB64(text, out);
        consume(out);
    }));
    const Figure oneLine = measure("DecodeBase64Text, one line", text, rounds, decodeText(text));
    report(oneLine);
    const Figure lines =
        measure("  the same, lines of 76 and CR LF", wrapped, rounds, decodeText(wrapped));
    report(lines);
    // Malformed input takes the exact path group by group; show what that costs.
    report(
        measure("  with 1 bad character in 4096", damaged, rounds, decodeFresh(encoding, damaged)));

    constexpr double kGoal = 0.8;
    auto verdict = [&](const Figure& f) {
        const double ratio = median(f.freshRatios);
        return std::string(ratio >= kGoal ? "met" : "missed") + " at " +
               std::to_string(ratio).substr(0, 4);
    };
    std::printf("goal: >= %.2f x memcpy into a fresh buffer (median): EncodeB64 %s, DecodeB64 %s\n",
                kGoal, verdict(encode).c_str(), verdict(decode).c_str());
    std::printf("the same payload wrapped into lines takes %.2f x the time it takes in one line\n",
                median(lines.seconds) / median(oneLine.seconds));

    ovk::ByteBuffer encoded;
    encoding.EncodeB64(plain, encoded);
    std::vector<uint8_t> check;
    encoding.DecodeB64(encoded, check);
    if (check != plain) {
        std::fprintf(stderr, "round trip failed\n");
        return 1;
    }
    return 0;
}

// The list's operations, in milliseconds, and the same keys in a plain hash map.
struct ListRound {
    double add, find, enumerate, position, remove, removeFirst, plain;
    bool complete;
};

ListRound listRound(const std::vector<std::string>& ids, bool plainFirst) {
    ListRound r{};
    // The baseline: a plain hash map of the same keys, which keeps no order and folds no case.
    std::size_t plainFound = 0, plainWalked = 0;
    const auto plain = [&] {
        const auto start = Clock::now();
        std::unordered_map<std::string, std::string> plainMap;
        for (const auto& id : ids) plainMap.emplace("ID_" + id, id);
        for (const auto& id : ids) plainFound += plainMap.count("ID_" + id);
        for (const auto& [key, id] : plainMap) plainWalked += id.size() > 0;
        r.plain = milliseconds(start);
    };
    if (plainFirst) plain();

    ovk::DownloadItems items;
    auto start = Clock::now();
    for (const auto& id : ids) items.Add(id, "ID_" + id);
    r.add = milliseconds(start);

    start = Clock::now();
    std::size_t found = 0;
    for (const auto& id : ids) found += items.Item("id_" + id) != nullptr;
    r.find = milliseconds(start);

    start = Clock::now();
    std::size_t walked = 0;
    for (const auto& item : items.NewEnum()) walked += item->ID().size() > 0;
    r.enumerate = milliseconds(start);

    start = Clock::now();
    for (int32_t position = 1; position <= items.Count(); ++position)
        walked += items.Item(position) != nullptr;
    r.position = milliseconds(start);

    // "Reset Marking" over every row: each article removed by its key, in list order.
    start = Clock::now();
    for (const auto& id : ids) items.Remove("ID_" + id);
    r.remove = milliseconds(start);

    for (const auto& id : ids) items.Add(id, "ID_" + id);
    start = Clock::now();
    while (items.Count() > 0) items.Remove(1);
    r.removeFirst = milliseconds(start);

    if (!plainFirst) plain();
    r.complete = found == ids.size() && walked == 2 * ids.size() &&
                 plainFound + plainWalked == 2 * ids.size();
    return r;
}

int benchDownloadList(int count, int rounds) {
    std::vector<std::string> ids;
    ids.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) ids.push_back(std::to_string(10000000 + i * 7));

    std::vector<ListRound> runs;
    for (int i = 0; i < rounds; ++i) runs.push_back(listRound(ids, i % 2 == 1));
    const auto middle = [&](double ListRound::*figure) {
        std::vector<double> values;
        for (const auto& r : runs) values.push_back(r.*figure);
        return median(values);
    };
    std::printf("\ndownload list of %d marked articles, %d rounds (medians)\n", count, rounds);
    const std::pair<const char*, double ListRound::*> figures[] = {
        {"add with key", &ListRound::add},
        {"find by key", &ListRound::find},
        {"enumerate", &ListRound::enumerate},
        {"item at every position", &ListRound::position},
        {"remove each by key", &ListRound::remove},
        {"remove position 1 until empty", &ListRound::removeFirst},
    };
    for (const auto& [what, figure] : figures)
        std::printf("  %-30s %8.1f ms\n", what, middle(figure));
    std::vector<double> ratios;
    for (const auto& r : runs) ratios.push_back((r.add + r.find + r.enumerate) / r.plain);
    std::printf(
        "  add + find + enumerate against the same in a std::unordered_map (%.1f ms, in turn): "
        "min %.2f median %.2f\n",
        middle(&ListRound::plain), *std::min_element(ratios.begin(), ratios.end()), median(ratios));
    for (const auto& r : runs) {
        if (!r.complete) {
            std::fprintf(stderr, "download list lost members\n");
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mebibytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 9;
    if (mebibytes == 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: base64_bench [payload MiB > 0] [rounds > 0]\n");
        return 2;
    }
    if (const int failed = benchCodec(mebibytes << 20, rounds)) return failed;
    return benchDownloadList(100000, std::min(rounds, 5));
}
