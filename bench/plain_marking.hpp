// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "wizard/list_view.hpp"

namespace ovk::bench {

// Marking every row at its plainest, the baseline Mark All is set against: a flag per row, and
// each row's identifier added under its key to a hash map and a vector, in order.
inline void markPlainly(const std::vector<ListView::Row>& rows) {
    std::vector<char> checked(rows.size());
    std::unordered_map<std::string, std::size_t> index;
    std::vector<std::shared_ptr<std::string>> members;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        checked[i] = 1;
        if (index.emplace(rows[i].Key, members.size()).second)
            members.push_back(std::make_shared<std::string>(rows[i].Text));
    }
    if (members.size() != index.size()) throw std::runtime_error("marking lost a row");
}

}  // namespace ovk::bench
