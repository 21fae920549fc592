// The Finish rewrite of a download document alone, against the floor of reading and writing
// the same bytes: `cat` of the file into a fresh one and a flush of the file system, timed here
// as well so that both figures come from the same moment of a loaded machine.
//
// Usage: finish_rewrite_bench FILE [RUNS]
// Rewrites copies of FILE beside it (FILE itself is left alone). Prints one line per run:
// "rewrite S floor S ratio R", then "min R median R".

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "service/finish_rewrite.hpp"

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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: finish_rewrite_bench FILE [RUNS]\n");
        return 2;
    }
    const std::filesystem::path file = argv[1];
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    const std::filesystem::path copy = file.string() + ".bench";
    const std::filesystem::path floorCopy = file.string() + ".floor";
    std::vector<double> ratios;
    for (int i = 0; i < runs; ++i) {
        std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
        // Both start from a file in the page cache, as Finish does after the last item.
        if (run("cat '" + copy.string() + "' > /dev/null && sync -f '" + copy.string() + "'") != 0)
            return 1;
        auto start = std::chrono::steady_clock::now();
        double cpuStart = processorSeconds(RUSAGE_SELF);
        try {
            ovk::RewriteDownloadFile(copy);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "finish_rewrite_bench: %s\n", e.what());
            return 1;
        }
        const double rewrite = seconds(start);
        const double rewriteCpu = processorSeconds(RUSAGE_SELF) - cpuStart;
        start = std::chrono::steady_clock::now();
        cpuStart = processorSeconds(RUSAGE_CHILDREN);
        if (run("cat '" + copy.string() + "' > '" + floorCopy.string() + "' && sync -f '" +
                floorCopy.string() + "'") != 0)
            return 1;
        const double floor = seconds(start);
        const double floorCpu = processorSeconds(RUSAGE_CHILDREN) - cpuStart;
        std::printf(
            "rewrite %.3f s floor %.3f s ratio %.2f (processor time: rewrite %.3f s, floor "
            "%.3f s)\n",
            rewrite, floor, rewrite / floor, rewriteCpu, floorCpu);
        ratios.push_back(rewrite / floor);
    }
    std::filesystem::remove(copy);
    std::filesystem::remove(floorCopy);
    std::sort(ratios.begin(), ratios.end());
    std::printf("min %.2f median %.2f\n", ratios.front(), ratios[ratios.size() / 2]);
    return 0;
}
