// SPDX-License-Identifier: MIT
// Symbol records appended while a download holds its document, journalled so that a crash
// undoes those of unsaved articles, against the same appends unjournalled: the cost the
// journal adds per record, in the worst case of records and nothing else. The journal's making
// and ending (a few flushes once per download) are left out of both times.
//
// Usage: record_append_bench FOLDER [RECORDS] [RUNS]
// Prints one line per run: "journalled S plain S ratio R", then "min R median R".

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "service/document_store.hpp"
#include "service/record_files.hpp"

namespace {

double appendAll(const std::filesystem::path& folder, int records, bool journalled) {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const auto document = folder / "download.xml";
    std::ofstream(document) << "<Download><Project/></Download>\n";
    ovk::DocumentStore store(document);
    ovk::RecordFiles files;
    if (journalled) files.journalWith(&store);
    // The first record makes the journal (two flushes, once per download): outside the time.
    files.AppendSymbolRecord(folder / "sym.txt", "SYMBOL first\nEND");
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < records; ++i) {
        files.AppendSymbolRecord(folder / "sym.txt",
                                 "SYMBOL generated " + std::to_string(i) +
                                     "\nVERSION 3\nCIRCLE 0 0 10\nRECT -6 -4 6 4\n"
                                     "TEXT 0 -14 M\nLINE 0 -10 0 -4\nEND");
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: record_append_bench FOLDER [RECORDS] [RUNS]\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    const int records = argc > 2 ? std::atoi(argv[2]) : 20000;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
    std::vector<double> ratios;
    for (int run = 0; run < runs; ++run) {
        // The first of the two changes every run, so that neither always meets the warmer cache.
        double plain = 0, journalled = 0;
        if (run % 2 == 1) journalled = appendAll(folder / "journalled", records, true);
        plain = appendAll(folder / "plain", records, false);
        if (run % 2 == 0) journalled = appendAll(folder / "journalled", records, true);
        ratios.push_back(journalled / plain);
        std::printf("journalled %.3f plain %.3f ratio %.2f\n", journalled, plain, ratios.back());
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("min %.2f median %.2f\n", ratios.front(), ratios[ratios.size() / 2]);
    std::filesystem::remove_all(folder);
    return 0;
}
