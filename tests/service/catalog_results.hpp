// SPDX-License-Identifier: MIT
#pragma once

// What a download from the example catalogue must leave behind, worked out from the catalogue
// itself and the documented layout of the record files.

#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/codepage.hpp"
#include "util/case_fold.hpp"

namespace ovk::test {

inline nlohmann::json catalogProject(const std::string& id) {
    std::ifstream in(std::string(OVK_EXAMPLES_DIR) + "/catalog/catalog.json");
    const nlohmann::json catalog = nlohmann::json::parse(in);
    for (const auto& project : catalog["projects"])
        if (project["id"] == id) return project;
    throw std::runtime_error("no project " + id);
}

// What a host expects in a record file after the given records, by the file's documented
// rules: a record whose first line (8 characters or more) is already a line of the file, in
// any case, is left out; symbol records are preceded by a line holding a space.
inline std::string expectedRecordFile(const std::vector<std::string>& records, bool symbols) {
    std::string file;
    std::vector<std::string> lines;
    for (const std::string& record : records) {
        const std::size_t lf = record.find('\n');
        const std::string first = lf == std::string::npos ? "" : record.substr(0, lf);
        bool present = false;
        for (const std::string& line : lines)
            present = present || caseFold(line) == caseFold(first);
        if (first.size() >= 8 && present) continue;
        if (file.empty() && symbols) file = " \r\n";
        if (!file.empty() && file.back() != '\n') file += "\r\n";
        if (symbols) file += " \r\n";
        std::string crlf;
        for (const char c : record) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        file += crlf;
        lines.clear();
        for (std::size_t start = 0; start <= file.size();) {
            const std::size_t end = file.find("\r\n", start);
            lines.push_back(file.substr(start, end == std::string::npos ? end : end - start));
            if (end == std::string::npos) break;
            start = end + 2;
        }
    }
    return toAnsi(file);
}

}  // namespace ovk::test
