// SPDX-License-Identifier: MIT
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace ovk::test {

// Puts the opener stand-in in a folder of its own under the name "xdg-open" and steers it
// through its environment; the variables are removed again when the object goes away.
class FakeOpener {
  public:
    struct Record {
        std::string workingFolder;
        std::string openDescriptors;
        std::string input;
        std::vector<std::string> argv;
    };

    FakeOpener() {
        std::filesystem::create_directory(bin());
        std::filesystem::create_symlink(FAKE_OPENER_BIN, program());
        setenv("OVK_FAKE_OPENER_RECORD", recordPath().c_str(), 1);
        unsetenv("OVK_FAKE_OPENER_EXIT");
        unsetenv("OVK_FAKE_OPENER_GATE");
    }
    ~FakeOpener() {
        unsetenv("OVK_FAKE_OPENER_RECORD");
        unsetenv("OVK_FAKE_OPENER_EXIT");
        unsetenv("OVK_FAKE_OPENER_GATE");
    }
    FakeOpener(const FakeOpener&) = delete;
    FakeOpener& operator=(const FakeOpener&) = delete;

    const TempDir& dir() const { return dir_; }
    std::filesystem::path bin() const { return dir_ / "bin"; }
    std::string program() const { return (bin() / "xdg-open").string(); }

    void exitWith(int code) { setenv("OVK_FAKE_OPENER_EXIT", std::to_string(code).c_str(), 1); }
    // The opener keeps running until openGate() is called.
    void holdUntilGate() { setenv("OVK_FAKE_OPENER_GATE", gatePath().c_str(), 1); }
    void openGate() const { std::ofstream(gatePath()).put('\n'); }

    // Forgets the previous run, so ran() tells whether the next open started the opener.
    void reset() const {
        std::filesystem::remove(recordPath());
        std::filesystem::remove(recordPath().string() + ".done");
    }
    bool ran() const { return std::filesystem::exists(recordPath()); }
    bool finished() const { return std::filesystem::exists(recordPath().string() + ".done"); }

    Record record() const {
        std::ifstream in(recordPath(), std::ios::binary);
        std::vector<std::string> fields;
        for (std::string field; std::getline(in, field, '\0');) fields.push_back(field);
        Record result;
        if (fields.size() < 3) return result;
        result.workingFolder = fields[0];
        result.openDescriptors = fields[1];
        result.input = fields[2];
        result.argv.assign(fields.begin() + 3, fields.end());
        return result;
    }

  private:
    std::filesystem::path recordPath() const { return dir_ / "record"; }
    std::filesystem::path gatePath() const { return dir_ / "gate"; }

    TempDir dir_;
};

}  // namespace ovk::test
