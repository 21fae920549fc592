// SPDX-License-Identifier: MIT
// Stands in for the desktop's opener in tests. It writes what it was started with to the file
// named by OVK_FAKE_OPENER_RECORD, as NUL-terminated fields: its working folder, the open
// descriptors above 2 (comma-separated), whether its input is the null device, then every
// argument, the program name first. With OVK_FAKE_OPENER_GATE it then waits until that file
// exists, and it marks its end by creating the record's name + ".done". It exits with
// OVK_FAKE_OPENER_EXIT (0 when unset).
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

std::string openDescriptorsAbove2() {
    std::string list;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return "?";
    const int own = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (entry->d_name[0] == '.' || fd <= 2 || fd == own) continue;
        if (!list.empty()) list += ',';
        list += entry->d_name;
    }
    closedir(dir);
    return list;
}

bool inputIsNullDevice() {
    struct stat input {};
    struct stat null {};
    return fstat(STDIN_FILENO, &input) == 0 && stat("/dev/null", &null) == 0 &&
           S_ISCHR(input.st_mode) && input.st_rdev == null.st_rdev;
}

}  // namespace

int main(int argc, char** argv) {
    const char* record = std::getenv("OVK_FAKE_OPENER_RECORD");
    if (record != nullptr) {
        const std::string inherited = openDescriptorsAbove2();  // before the record adds its own
        std::ofstream out(record, std::ios::binary);
        out << std::filesystem::current_path().string() << '\0' << inherited << '\0'
            << (inputIsNullDevice() ? "null" : "other") << '\0';
        for (int i = 0; i < argc; ++i) out << argv[i] << '\0';
    }
    if (const char* gate = std::getenv("OVK_FAKE_OPENER_GATE")) {
        // Bounded, so a broken test cannot leave this process behind for ever.
        for (int i = 0; i < 6000 && !std::filesystem::exists(gate); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (record != nullptr) std::ofstream(std::string(record) + ".done").put('\n');
    const char* code = std::getenv("OVK_FAKE_OPENER_EXIT");
    return code != nullptr ? std::atoi(code) : 0;
}
