// SPDX-License-Identifier: MIT
// The Finish rewrite of a download document alone, against the floor of reading and writing
// the same bytes: the file copied into a fresh one as `cat` would, a flush of the file system
// and the copy renamed over the file (as the rewrite replaces it), both in this process and
// timed the same way, in turn, so that both figures come from the same moment of a loaded
// machine.
//
// The rewrite runs as Finish runs it after a download: knowing where the texts its saves wrote
// stand in the file. Those are the large CDATA sections of the items, found here by a pass over
// the file before the runs; the processor time of a rewrite without them (a document this
// process did not save) is printed beside.
//
// Usage: finish_rewrite_bench FILE [RUNS]   (RUNS defaults to 4: two in each order)
// Rewrites copies of FILE beside it (FILE itself is left alone). Prints one line per run:
// "rewrite S floor S ratio R", then "min R median R".

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/files.hpp"
#include "service/document_store.hpp"
#include "service/finish_rewrite.hpp"
#include "service/released_texts.hpp"

namespace {

double seconds(const std::chrono::steady_clock::time_point& start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Processor time (user + system) of this process, or of its waited-for children.
double processorSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int run(const std::string& command) {
    return std::system(command.c_str());
}

// What `cat FROM > TO && sync -f TO && mv TO FROM` does, without starting a process.
bool catSyncRename(const std::filesystem::path& from, const std::filesystem::path& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = in >= 0 && out >= 0;
    std::vector<char> block(std::size_t{1} << 17);
    for (ssize_t n; ok && (n = ::read(in, block.data(), block.size())) > 0;) {
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t wrote =
                ::write(out, block.data() + done, static_cast<std::size_t>(n - done));
            ok = wrote > 0;
            done += wrote;
        }
    }
    ok = ok && ::syncfs(out) == 0;
    if (in >= 0) ::close(in);
    if (out >= 0) ::close(out);
    std::error_code ec;
    if (ok) std::filesystem::rename(to, from, ec);
    return ok && !ec;
}

// The texts a download of this document would have released: every CDATA section of at least
// ReleasedTexts::kReleasedFrom bytes.
std::vector<ovk::CDataStandIns::Range> savedSections(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + file.string());
    const ovk::files::Descriptor close{fd};
    ovk::CDataStandIns scanner(fd);
    std::vector<char> buffer(std::size_t{1} << 20);
    while (ovk::CDataStandIns::read(&scanner, buffer.data(), static_cast<int>(buffer.size())) > 0) {
    }
    std::vector<ovk::CDataStandIns::Range> sections;
    for (const auto& section : scanner.sections()) {
        if (section.length >= ovk::ReleasedTexts::kReleasedFrom) sections.push_back(section);
    }
    return sections;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: finish_rewrite_bench FILE [RUNS]\n");
        return 2;
    }
    const std::filesystem::path file = argv[1];
    const int runs = argc > 2 ? std::atoi(argv[2]) : 4;
    const std::filesystem::path copy = file.string() + ".bench";
    const std::filesystem::path floorCopy = file.string() + ".floor";
    std::vector<double> ratios;
    // Both start from a file in the page cache, as Finish does after the last item.
    const auto freshCopy = [&] {
        std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
        return run("cat '" + copy.string() + "' > /dev/null && sync -f '" + copy.string() + "'") ==
               0;
    };
    std::vector<ovk::CDataStandIns::Range> sections;
    try {
        sections = savedSections(file);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "finish_rewrite_bench: %s\n", e.what());
        return 1;
    }
    for (int i = 0; i < runs; ++i) {
        if (!freshCopy()) return 1;
        // Each writes a new file beside the old one, flushes it and puts it in the old one's
        // place, letting go of the old one's pages. Whichever runs second gets the memory the
        // first let go of: on a virtual machine, memory the guest has not used for a while
        // costs far more to write into. So the order alternates.
        double rewrite = 0, rewriteCpu = 0, floor = 0, floorCpu = 0;
        const auto measureRewrite = [&] {
            ovk::DocumentStore document(copy);  // Finish holds it already
            const auto start = std::chrono::steady_clock::now();
            const double cpuStart = processorSeconds(RUSAGE_SELF);
            ovk::RewriteDownloadFile(document, sections);
            rewrite = seconds(start);
            rewriteCpu = processorSeconds(RUSAGE_SELF) - cpuStart;
        };
        const auto measureFloor = [&] {
            std::filesystem::remove(floorCopy);
            const auto start = std::chrono::steady_clock::now();
            const double cpuStart = processorSeconds(RUSAGE_SELF);
            if (!catSyncRename(copy, floorCopy)) return false;
            floor = seconds(start);
            floorCpu = processorSeconds(RUSAGE_SELF) - cpuStart;
            return true;
        };
        try {
            if (i % 2 == 1 && !measureFloor()) return 1;
            measureRewrite();
            if (i % 2 == 0 && !measureFloor()) return 1;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "finish_rewrite_bench: %s\n", e.what());
            return 1;
        }
        std::printf(
            "rewrite %.3f s floor %.3f s ratio %.2f (processor time: rewrite %.3f s, floor "
            "%.3f s; %s first)\n",
            rewrite, floor, rewrite / floor, rewriteCpu, floorCpu,
            i % 2 == 0 ? "rewrite" : "floor");
        ratios.push_back(rewrite / floor);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("min %.2f median %.2f\n", ratios.front(), ratios[ratios.size() / 2]);
    if (!freshCopy()) return 1;
    try {
        const double cpuStart = processorSeconds(RUSAGE_SELF);
        ovk::RewriteDownloadFile(copy);
        std::printf(
            "without the saved sections, reading every text through: processor time %.3f s\n",
            processorSeconds(RUSAGE_SELF) - cpuStart);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "finish_rewrite_bench: %s\n", e.what());
        return 1;
    }
    std::filesystem::remove(copy);
    std::filesystem::remove(floorCopy);
    return 0;
}
