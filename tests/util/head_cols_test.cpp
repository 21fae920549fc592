// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "ovk/head_cols.hpp"
#include "platform/errors.hpp"

namespace ovk {
namespace {

TEST(HeadCols, AddUnderAKeyRemembersWidthAndKey) {
    HeadCols cols;
    const auto name = cols.Add(1440, "ID_Name");
    EXPECT_EQ(name->ColWidth(), 1440);
    EXPECT_EQ(name->MyIndexKey(), HeadCol::TaggedValue(std::string("ID_Name")));
    EXPECT_EQ(cols.Item("id_name"), name);
    EXPECT_EQ(cols["ID_Name"], name);
    EXPECT_EQ(cols[1], name);
}

TEST(HeadCols, AddWithoutAKeyIsReachableByPositionOnly) {
    HeadCols cols;
    cols.Add(100, "ID_A");
    const auto unnamed = cols.Add(1440);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(unnamed->MyIndexKey()));
    EXPECT_EQ(cols.Item(2), unnamed);
    EXPECT_EQ(cols.Item(""), nullptr);
    EXPECT_EQ(cols.Count(), 2);
}

TEST(HeadCols, DuplicateKeyFailsWithError457) {
    HeadCols cols;
    cols.Add(100, "ID_Name");
    try {
        cols.Add(200, "ID_NAME");
        FAIL() << "a second column under the same key was accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.number, err::DuplicateKey);
    }
    EXPECT_EQ(cols.Count(), 1);
    EXPECT_EQ(cols.Item("ID_Name")->ColWidth(), 100);
}

TEST(HeadCols, ClearEmptiesTheCollectionButNotTheMembersHeldElsewhere) {
    HeadCols cols;
    const auto kept = cols.Add(100, "ID_A");
    cols.Add(200, "ID_B");
    cols.Clear();
    EXPECT_EQ(cols.Count(), 0);
    EXPECT_EQ(cols.Item("ID_A"), nullptr);
    EXPECT_TRUE(cols.NewEnum().empty());
    EXPECT_EQ(kept->ColWidth(), 100);
    cols.Add(300, "ID_A");  // the key is free again
    EXPECT_EQ(cols.Item(1)->ColWidth(), 300);
}

TEST(HeadCols, EnumerationIsASnapshotInCollectionOrder) {
    HeadCols cols;
    cols.Add(1, "ID_A");
    cols.Add(2, "ID_B");
    cols.Add(3);
    std::vector<double> widths;
    for (const auto& col : cols.NewEnum()) {
        widths.push_back(col->ColWidth());
        cols.Remove(1);  // removing while walking does not disturb the walk
    }
    EXPECT_EQ(widths, (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(cols.Count(), 0);
}

TEST(HeadCol, KeepsAnyTaggedValueAsGiven) {
    HeadCol col;
    EXPECT_EQ(col.ColWidth(), 0);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(col.MyIndexKey()));
    col.setColWidth(-12.5);
    col.setMyIndexKey(3.25);
    EXPECT_EQ(col.ColWidth(), -12.5);
    EXPECT_EQ(col.MyIndexKey(), HeadCol::TaggedValue(3.25));
}

}  // namespace
}  // namespace ovk
