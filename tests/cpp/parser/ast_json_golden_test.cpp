// The syntax-tree JSON of every file in tests/golden/ast matches the expected document beside it
// (golden.h has the convention and how to regenerate the expected files).
#include <gtest/gtest.h>

#include "golden.h"
#include "parser/ast_json.h"
#include "parser/parse_source.h"

namespace vok {
namespace {

TEST(AstJsonGolden, EveryFileMatches) {
    const int checked = testing::check_golden_files("ast", ".json", [](const std::string& source) {
        auto ast = parse_source(source);
        if (!ast.ok()) {
            ADD_FAILURE() << ast.error().to_string();
            return std::string();
        }
        return *ast_to_json_document(*ast) + "\n";
    });
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

// Deep chains are refused on a bound computed before writing; that bound must never refuse a
// document that fits: each chain is written under a limit just above its own size, and refused
// under limits below it.
TEST(AstJson, TheRefusalBoundNeverRefusesADocumentThatFits) {
    for (int terms : {1, 2, 50, 400, 3000}) {
        std::string source = "Policy p as: a";
        for (int i = 1; i < terms; ++i)
            source += " + a";
        source += "\nInstance i of \"E\" { f: -(b * c) as \"int\" }";
        auto ast = parse_source(source);
        ASSERT_TRUE(ast.ok());
        auto whole = ast_to_json_document(*ast);
        ASSERT_TRUE(whole.ok());
        auto fitting = ast_to_json_document(*ast, whole->size() + 1);
        ASSERT_TRUE(fitting.ok()) << terms;
        EXPECT_EQ(*fitting, *whole);
        for (size_t limit : {whole->size() / 2, whole->size() / 10})
            EXPECT_FALSE(ast_to_json_document(*ast, limit).ok()) << terms << " " << limit;
    }
}

} // namespace
} // namespace vok
