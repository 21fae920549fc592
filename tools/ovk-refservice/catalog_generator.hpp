// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>

namespace ovk::refservice {

struct GeneratorSettings {
    std::size_t articles = 100;
    std::uint64_t seed = 1;
    std::filesystem::path folder;
};

// What a generated catalogue holds, for the summary line and for tests.
struct GeneratorSummary {
    std::size_t articles = 0;
    std::size_t documentFiles = 0;
    std::uintmax_t documentBytes = 0;
};

// Writes a catalogue of `articles` articles into `folder` (catalog.json, banner.jpg and the
// documents under docs/): one project "BENCH" (password "bench", all five languages), seven
// fields, a default selection three fields deep, one to five symbol records, up to two GER
// records and up to three documents of 10 KB to 2 MB per article. The same seed gives the same
// catalogue. Documents are drawn from a pool of at most 64 files shared between articles, so
// that catalogues of thousands of articles stay a few dozen megabytes on disk; each article
// still names its documents after itself. Throws std::runtime_error when it cannot write.
GeneratorSummary generateCatalog(
    const GeneratorSettings& settings,
    const std::function<void(std::size_t done, std::size_t total)>& progress = {});

}  // namespace ovk::refservice
