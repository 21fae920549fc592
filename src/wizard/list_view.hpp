// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/controls.hpp"

namespace ovk {

// A list view in report view with check boxes: column headers, then rows whose first value is
// the row's text and whose further values stand in the columns after the first, by position.
// Rows have unique keys, found through a hash.
class ListView : public Control {
  public:
    // The width a new column gets, in twips (one inch), before the form sets its own: the
    // saved column widths are in the same unit.
    static constexpr double kDefaultColumnWidth = 1440;

    struct Column {
        std::string Text;
        double Width = kDefaultColumnWidth;  // twips; the view writes back what the user drags
    };
    struct Row {
        std::string Key;
        std::string Text;
        std::vector<std::string> SubItems;  // the values of columns 2, 3, ...
        bool Checked = false;
    };

    // Adds a column at the right end and returns its index.
    int addColumn(std::string text, double width = kDefaultColumnWidth);
    void setColumnWidth(int column, double width);
    // Adds a row at the end. Throws Error KeyNotUnique when `key` is taken (nothing changes).
    int addRow(std::string key, std::string text);
    void addSubItem(int row, std::string value);
    void setChecked(int row, bool checked);
    // Removes every row and every column.
    void clear();
    // Replaces every row and column with those of `other`, which is left holding the old ones:
    // a list filled aside shows at once and whole, and its owner chooses where the old rows are
    // freed.
    void takeContents(ListView& other);

    const std::vector<Column>& columns() const { return columns_; }
    const std::vector<Row>& rows() const { return rows_; }
    int findRow(std::string_view key) const;
    // True when a column has exactly this header text (letter case counts); a hash look-up.
    bool hasColumn(std::string_view text) const { return headers_.contains(text); }

    // Bumps when columns or rows are added or cleared or a value is added.
    uint64_t revision() const { return revision_; }
    // Bumps when a check box changes.
    uint64_t checkRevision() const { return checkRevision_; }

  private:
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const {
            return std::hash<std::string_view>{}(key);
        }
    };
    std::vector<Column> columns_;
    std::vector<Row> rows_;
    std::unordered_map<std::string, int, KeyHash, std::equal_to<>> index_;
    std::unordered_set<std::string, KeyHash, std::equal_to<>> headers_;
    uint64_t revision_ = 0;
    uint64_t checkRevision_ = 0;
};

}  // namespace ovk
