// The syntax-tree JSON of every file in tests/golden/ast matches the expected document beside it.
// VOK_UPDATE_GOLDEN=1 rewrites the expected documents (review the diff before committing).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "parser/ast_json.h"
#include "parser/parse_source.h"

namespace vok {
namespace {

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(AstJsonGolden, EveryFileMatches) {
    const bool update = std::getenv("VOK_UPDATE_GOLDEN") != nullptr;
    auto dir = std::filesystem::path(VOK_SOURCE_DIR) / "tests/golden/ast";
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".vok") continue;
        auto ast = parse_source(slurp(entry.path()));
        ASSERT_TRUE(ast.ok()) << entry.path() << ": " << ast.error().to_string();
        std::string actual = *ast_to_json_document(*ast) + "\n";
        auto expected_path = entry.path();
        expected_path.replace_extension(".json");
        if (update) {
            std::ofstream(expected_path, std::ios::binary) << actual;
        } else {
            EXPECT_EQ(actual, slurp(expected_path)) << expected_path;
        }
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST(AstJson, SmallestEntityDocument) {
    auto ast = parse_source("Entity \"Customer\"");
    ASSERT_TRUE(ast.ok());
    EXPECT_EQ(*ast_to_json_document(*ast), "{\n"
                                           "  \"metadata\": {},\n"
                                           "  \"declarations\": [\n"
                                           "    {\n"
                                           "      \"node\": {\n"
                                           "        \"type\": \"Entity\",\n"
                                           "        \"name\": \"Customer\"\n"
                                           "      },\n"
                                           "      \"line\": 1,\n"
                                           "      \"column\": 1\n"
                                           "    }\n"
                                           "  ]\n"
                                           "}");
}

TEST(AstJson, DeepExpressionsAreRefusedInsteadOfFillingMemory) {
    std::string source = "Policy p as: a";
    for (int i = 0; i < 30000; ++i)
        source += " + a";
    auto ast = parse_source(source);
    ASSERT_TRUE(ast.ok());
    auto document = ast_to_json_document(*ast, ast_json_limit_for(source.size()));
    ASSERT_FALSE(document.ok());
    EXPECT_TRUE(
        document.error().starts_with("the syntax-tree document would exceed 268435456 bytes"));
}

} // namespace
} // namespace vok
