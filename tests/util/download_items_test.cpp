// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/errors.hpp"
#include "util/download_items.hpp"

namespace ovk {
namespace {

std::vector<std::string> ids(const DownloadItems& items) {
    std::vector<std::string> out;
    for (const auto& item : items.NewEnum()) out.push_back(item->ID());
    return out;
}

int32_t errorNumberOf(auto&& statement) {
    try {
        statement();
    } catch (const Error& e) {
        return e.number;
    }
    return 0;
}

TEST(DownloadItems, MemberFoundByKeyAndByPositionIsTheSameObject) {
    DownloadItems items;
    const auto added = items.Add("4711", "ID_4711");
    EXPECT_EQ(items.Count(), 1);
    EXPECT_EQ(items.Item("ID_4711"), added);
    EXPECT_EQ(items.Item(1), added);
    EXPECT_EQ(added->ID(), "4711");
    // Shared, not copied: a change through one reference shows through the other.
    items.Item(1)->setID("0815");
    EXPECT_EQ(items.Item("id_4711")->ID(), "0815");
}

TEST(DownloadItems, LookingUpWhatIsNotThereGivesNothing) {
    DownloadItems items;
    EXPECT_EQ(items.Item(1), nullptr);
    items.Add("1", "ID_1");
    items.Add("2");
    EXPECT_EQ(items.Item("ID_3"), nullptr);
    EXPECT_EQ(items.Item(""), nullptr);
    EXPECT_EQ(items.Item(0), nullptr);
    EXPECT_EQ(items.Item(-1), nullptr);
    EXPECT_EQ(items.Item(3), nullptr);
    EXPECT_EQ(items.Item(2)->ID(), "2");  // without a key, reachable by position only
}

TEST(DownloadItems, DuplicateKeyInAnyCaseFailsAndChangesNothing) {
    DownloadItems items;
    const auto first = items.Add("4711", "ID_4711");
    for (const char* key : {"ID_4711", "id_4711", "Id_4711"}) {
        EXPECT_EQ(errorNumberOf([&] { items.Add("other", key); }), err::DuplicateKey) << key;
    }
    EXPECT_EQ(items.Count(), 1);
    EXPECT_EQ(items.Item("ID_4711"), first);
    EXPECT_EQ(ids(items), std::vector<std::string>{"4711"});
}

TEST(DownloadItems, KeysFoldNonAsciiLettersToo) {
    DownloadItems items;
    items.Add("1", "ID_Länge");
    items.Add("2", "ID_ŠKODA");
    items.Add("3", "ID_ДЛИНА");
    EXPECT_EQ(items.Item("id_LÄNGE")->ID(), "1");
    EXPECT_EQ(items.Item("id_škoda")->ID(), "2");
    EXPECT_EQ(items.Item("id_длина")->ID(), "3");
    EXPECT_EQ(errorNumberOf([&] { items.Add("4", "ID_länge"); }), err::DuplicateKey);
    // Distinct letters stay distinct, and bytes that are not UTF-8 match only themselves.
    items.Add("5", "ID_Lange");
    items.Add("6", "ID_\xC4");
    EXPECT_EQ(items.Item("ID_\xE4"), nullptr);
    EXPECT_EQ(items.Item("id_\xC4")->ID(), "6");
}

TEST(DownloadItems, RemovingMovesTheMembersBehindForward) {
    DownloadItems items;
    items.Add("a", "ID_a");
    items.Add("b", "ID_b");
    items.Add("c", "ID_c");
    items.Remove("ID_A");
    EXPECT_EQ(items.Count(), 2);
    EXPECT_EQ(items.Item(1)->ID(), "b");
    EXPECT_EQ(items.Item("ID_a"), nullptr);
    EXPECT_EQ(ids(items), (std::vector<std::string>{"b", "c"}));

    items.Remove(2);
    EXPECT_EQ(ids(items), std::vector<std::string>{"b"});
    // A removed key is free again, and the member comes last.
    items.Add("a again", "ID_a");
    items.Add("c again", "ID_c");
    EXPECT_EQ(ids(items), (std::vector<std::string>{"b", "a again", "c again"}));
    EXPECT_EQ(items.Item(3)->ID(), "c again");
}

TEST(DownloadItems, RemovingWhatIsNotThereFailsAndChangesNothing) {
    DownloadItems items;
    items.Add("a", "ID_a");
    EXPECT_EQ(errorNumberOf([&] { items.Remove("ID_b"); }), err::InvalidArgument);
    EXPECT_EQ(errorNumberOf([&] { items.Remove(""); }), err::InvalidArgument);
    EXPECT_EQ(errorNumberOf([&] { items.Remove(0); }), err::OutOfRange);
    EXPECT_EQ(errorNumberOf([&] { items.Remove(2); }), err::OutOfRange);
    EXPECT_EQ(items.Count(), 1);
    EXPECT_EQ(items.Item("ID_a")->ID(), "a");
}

TEST(DownloadItems, EmptyingFromTheFrontKeepsOrderAndKeys) {
    DownloadItems items;
    for (int i = 0; i < 5000; ++i) items.Add(std::to_string(i), "ID_" + std::to_string(i));
    for (int i = 0; i < 5000; ++i) {
        ASSERT_EQ(items.Item(1)->ID(), std::to_string(i));
        ASSERT_EQ(items.Item(items.Count())->ID(), "4999");
        items.Remove(1);
        ASSERT_EQ(items.Item("ID_" + std::to_string(i)), nullptr);
    }
    EXPECT_EQ(items.Count(), 0);
    EXPECT_TRUE(ids(items).empty());
}

// Every operation checked against a plain list, through phases of growing and shrinking with
// removals from anywhere: the positions, keys and order must agree at every step.
TEST(DownloadItems, StaysConsistentThroughRandomAddsAndRemovals) {
    struct Entry {
        std::string id;
        std::string key;
    };
    std::vector<Entry> model;
    DownloadItems items;
    std::mt19937 random(99);
    int next = 0;
    for (int step = 0; step < 20000; ++step) {
        const unsigned addsInTen = (step / 2500) % 2 == 0 ? 7 : 2;
        const unsigned choice = random() % 10;
        if (choice < addsInTen || model.empty()) {
            const std::string id = std::to_string(next++);
            const std::string key = random() % 4 == 0 ? std::string() : "ID_" + id;
            items.Add(id, key);
            model.push_back({id, key});
        } else if (choice < addsInTen + (10 - addsInTen) / 2) {
            const auto position = static_cast<int32_t>(1 + random() % model.size());
            items.Remove(position);
            model.erase(model.begin() + (position - 1));
        } else {
            const std::size_t at = random() % model.size();
            if (model[at].key.empty()) continue;
            items.Remove(model[at].key);
            model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
        }
        ASSERT_EQ(items.Count(), static_cast<int32_t>(model.size()));
        if (model.empty()) continue;
        const std::size_t probe = random() % model.size();
        ASSERT_EQ(items.Item(static_cast<int32_t>(probe + 1))->ID(), model[probe].id)
            << "step " << step;
        if (!model[probe].key.empty()) {
            ASSERT_EQ(items.Item(model[probe].key)->ID(), model[probe].id);
        }
        if (step % 500 == 0) {
            std::vector<std::string> expected;
            for (const auto& entry : model) expected.push_back(entry.id);
            ASSERT_EQ(ids(items), expected) << "step " << step;
        }
    }
}

}  // namespace
}  // namespace ovk
