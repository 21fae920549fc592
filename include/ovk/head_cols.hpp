// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ovk/error.hpp"

namespace ovk {

/**
 * @class HeadCol head_cols.hpp <ovk/head_cols.hpp>
 *
 * The remembered width of one column of the article list, as held by HeadCols.
 *
 * Members of a HeadCols are shared: the object a HeadCols hands out is the member itself.
 */
class HeadCol {
  public:
    /**
     * A tagged value: empty (std::monostate), a truth value, a whole number, a floating-point
     * number or a UTF-8 text.
     */
    using TaggedValue = std::variant<std::monostate, bool, int32_t, double, std::string>;

    /** Creates a column width of 0 with an empty key. */
    HeadCol();
    ~HeadCol();
    HeadCol(const HeadCol&) = delete;
    HeadCol& operator=(const HeadCol&) = delete;

    /** Sets the width, in the list view's units. */
    void setColWidth(double width);
    /** The width, in the list view's units. */
    double ColWidth() const;
    /** Sets the key this column is known by; the value is copied. */
    void setMyIndexKey(TaggedValue key);
    /** The key under which this column was added to its HeadCols; empty when it had none. */
    const TaggedValue& MyIndexKey() const;

  private:
    class Private;
    const std::unique_ptr<Private> d;
};

/**
 * @class HeadCols head_cols.hpp <ovk/head_cols.hpp>
 *
 * The widths of the article list's columns, kept from one filling of the list to the next.
 *
 * An ordered collection: members keep the order in which they were added and are counted
 * from position 1; removing one moves those behind it one position forward. A member may be
 * added under a key, unique in the collection without regard to letter case ("ID_Name" and
 * "id_NAME" are the same key); a member added without a key is reachable by position only.
 *
 * Failures are thrown as ovk::Error, which derives from std::exception.
 */
class HeadCols {
  public:
    /** Creates an empty collection. */
    HeadCols();
    ~HeadCols();
    HeadCols(const HeadCols&) = delete;
    HeadCols& operator=(const HeadCols&) = delete;

    /**
     * Adds a new column width at the end, under @p sKey unless it is empty, and returns it.
     * Its MyIndexKey is @p sKey, or empty without a key. A key the collection already holds
     * throws ovk::Error 457 (duplicate key) and leaves the collection unchanged.
     */
    std::shared_ptr<HeadCol> Add(double ColWidth, std::string_view sKey = {});
    /** The member at @p position (from 1), or nullptr when there is none. */
    std::shared_ptr<HeadCol> Item(int32_t position) const;
    /** The member under @p key (any letter case), or nullptr when there is none. */
    std::shared_ptr<HeadCol> Item(std::string_view key) const;
    /** The number of members. */
    int32_t Count() const;
    /** Removes the member at @p position; throws ovk::Error 9 when there is none. */
    void Remove(int32_t position);
    /** Removes the member under @p key; throws ovk::Error 5 when there is none. */
    void Remove(std::string_view key);
    /**
     * The members from position 1 to the last, as they are at the call: changing the
     * collection while walking the result does not disturb the walk.
     */
    std::vector<std::shared_ptr<HeadCol>> NewEnum() const;
    /** Removes every member; members still held elsewhere live on. */
    void Clear();

    /** Item, the default member: @c cols[2] is the member at position 2. */
    std::shared_ptr<HeadCol> operator[](int32_t position) const { return Item(position); }
    /** Item, the default member: @c cols["ID_Name"] is the member under that key. */
    std::shared_ptr<HeadCol> operator[](std::string_view key) const { return Item(key); }

  private:
    class Private;
    const std::unique_ptr<Private> d;
};

}  // namespace ovk
