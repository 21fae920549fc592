// SPDX-License-Identifier: MIT
// The catalogue generator: size and shape of what it writes, determinism, and that the
// service serves it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "base64.hpp"
#include "soap_test_client.hpp"
#include "support/ref_service.hpp"
#include "support/temp_dir.hpp"
#include "tool_process.hpp"

namespace ovk::test {
namespace {

namespace fs = std::filesystem;

class RefServiceGenerator : public ::testing::Test {
  protected:
    static constexpr int kArticles = 24;

    static void SetUpTestSuite() {
        dir_ = new TempDir();
        const auto result = runTool("--generate " + std::to_string(kArticles) +
                                    " --seed 5 --out '" + dir_->path().string() + "'");
        ASSERT_EQ(result.exitCode, 0) << result.output;
        std::ifstream in(dir_->path() / "catalog.json");
        catalog_ = new nlohmann::json(nlohmann::json::parse(in));
    }
    static void TearDownTestSuite() {
        delete catalog_;
        delete dir_;
    }
    static const fs::path& folder() { return dir_->path(); }
    static const nlohmann::json& project() { return (*catalog_)["projects"][0]; }

  private:
    static inline TempDir* dir_ = nullptr;
    static inline nlohmann::json* catalog_ = nullptr;
};

// Depth of the deepest element below `node` (the node itself counts 1).
std::size_t depth(const xml::Node& node) {
    std::size_t deepest = 0;
    for (const auto& child : node.childElements()) deepest = std::max(deepest, depth(child));
    return deepest + 1;
}

TEST_F(RefServiceGenerator, WritesTheRequestedArticlesWithPayloadsInRange) {
    EXPECT_EQ(project()["articles"].size(), static_cast<std::size_t>(kArticles));
    EXPECT_GE(project()["fields"].size(), 5u);
    EXPECT_GE(project()["defaultSelect"].size(), 3u);
    std::set<std::string> ids;
    std::size_t documents = 0;
    for (const auto& article : project()["articles"]) {
        ids.insert(article["id"].get<std::string>());
        EXPECT_GE(article["symbols"].size(), 1u);
        EXPECT_LE(article["symbols"].size(), 5u);
        EXPECT_LE(article["gers"].size(), 2u);
        EXPECT_LE(article["documents"].size(), 3u);
        for (const auto& symbol : article["symbols"]) {
            const auto text = symbol.get<std::string>();
            EXPECT_NE(text.find('\n'), std::string::npos);
            EXPECT_GE(text.find('\n'),
                      8u);  // a first line long enough for the client's duplicate check
        }
        for (const auto& document : article["documents"]) {
            ++documents;
            const auto size = fs::file_size(folder() / document["file"].get<std::string>());
            EXPECT_GE(size, 10u * 1024);
            EXPECT_LE(size, 2u * 1024 * 1024);
        }
    }
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(kArticles));
    EXPECT_GT(documents, 0u);
    EXPECT_TRUE(fs::exists(folder() / "banner.jpg"));
}

TEST_F(RefServiceGenerator, SameSeedGivesTheSameCatalogueAndAnotherSeedAnother) {
    TempDir again;
    ASSERT_EQ(runTool("--generate " + std::to_string(kArticles) + " --seed 5 --out '" +
                      again.path().string() + "'")
                  .exitCode,
              0);
    EXPECT_EQ(readAll(again / "catalog.json"), readAll(folder() / "catalog.json"));
    TempDir other;
    ASSERT_EQ(runTool("--generate " + std::to_string(kArticles) + " --seed 6 --out '" +
                      other.path().string() + "'")
                  .exitCode,
              0);
    EXPECT_NE(readAll(other / "catalog.json"), readAll(folder() / "catalog.json"));
}

TEST_F(RefServiceGenerator, ServedCatalogueGivesATreeThreeToFourLevelsDeepAndWholeDocuments) {
    RefService service(folder(), {});
    std::string fields;
    for (const auto& id : project()["defaultSelect"])
        fields += (fields.empty() ? "" : ",") + std::to_string(id.get<int>());
    auto args = projectArguments("bench", "BENCH", 1031);
    args.emplace_back("fieldList", fields);
    const auto tree = call(service, "getTreeData", args);
    ASSERT_EQ(tree.status, 200);
    const std::size_t levels = depth(tree.resultElements().at(0)) - 1;  // below the root
    EXPECT_GE(levels, 3u);
    EXPECT_LE(levels, 4u);

    for (const auto& article : project()["articles"]) {
        if (article["documents"].empty()) continue;
        auto itemArgs = projectArguments("bench", "BENCH", 1033);
        itemArgs.emplace_back("materialId", article["id"].get<std::string>());
        const auto item = call(service, "GetItemData", itemArgs);
        ASSERT_EQ(item.status, 200);
        const auto binary =
            item.resultElements().at(0).childElements().at(0).childElements().back();
        const auto documents = binary.childElements().at(2).childElements();
        ASSERT_EQ(documents.size(), article["documents"].size());
        const auto bytes = refservice::decodeBase64(documents[0].firstChild().text());
        ASSERT_TRUE(bytes);
        EXPECT_EQ(*bytes, readAll(folder() / article["documents"][0]["file"].get<std::string>()));
        break;
    }
}

}  // namespace
}  // namespace ovk::test
