// The canonical layout: header comments, header annotations, imports, blank lines, declarations
// and indentation, and the format check.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "formatter/format_test_util.h"
#include "formatter/printer.h"

namespace vok {
namespace {

using testing::formatted;

struct LayoutCase {
    const char* name;
    std::string source;
    std::string expected;
    FormatConfig config = {};
};

FormatConfig with(uint64_t indent_width, bool use_tabs, bool preserve_comments = true,
                  bool sort_imports = true) {
    return FormatConfig{indent_width, use_tabs, preserve_comments, sort_imports};
}

class Layout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, FormatsToExpectedText) {
    const LayoutCase& c = GetParam();
    EXPECT_EQ(formatted(c.source, c.config), c.expected);
    testing::expect_reads_back(c.source, c.config);
}

const char* const kPolicy = "Policy p as: a = \"x\"";
const char* const kImportsBA = "import { x } from \"b\"\nimport { y } from \"a\"\nEntity \"E\"";

INSTANTIATE_TEST_SUITE_P(
    Formatter, Layout,
    ::testing::Values(
        LayoutCase{"Empty", "", "\n"}, LayoutCase{"OnlyWhitespace", "  \n\t\n", "\n"},
        LayoutCase{"CommentWithoutBlank", "//x", "// x\n\n"},
        LayoutCase{"CommentsOnly", "// a\n  //   b  \n//\n", "// a\n// b\n// \n\n"},
        LayoutCase{"CommentsAcrossBlankLines", "//a\n\n   \n// b\nEntity \"E\"",
                   "// a\n// b\n\nEntity \"E\"\n"},
        LayoutCase{"CommentAfterCodeDropped",
                   "// head\nEntity \"A\" // tail\n// later\nEntity \"B\"",
                   "// head\n\nEntity \"A\"\n\nEntity \"B\"\n"},
        LayoutCase{"CommentsNotPreserved", "// head\nEntity \"A\"", "Entity \"A\"\n",
                   with(4, false, false)},
        LayoutCase{"CarriageReturnsDropped", "// a\r\nEntity \"A\"\r\n", "// a\n\nEntity \"A\"\n"},
        LayoutCase{"VersionOnlyNoBlankLine", "@version \"1.0.0\"\nEntity \"E\"",
                   "@version \"1.0.0\"\nEntity \"E\"\n"},
        LayoutCase{"NamespaceGivesBlankLine", "@namespace \"n\" Entity \"E\"",
                   "@namespace \"n\"\n\nEntity \"E\"\n"},
        LayoutCase{"HeaderInFixedOrder",
                   "@profile \"p\" @OWNER \"o\" @version \"v\" @Namespace \"n\" @namespace \"m\"",
                   "@namespace \"m\"\n@version \"v\"\n@owner \"o\"\n@profile \"p\"\n"},
        LayoutCase{"HeaderThenImports", "@owner \"o\" import * as c from \"m\" Entity \"E\"",
                   "@owner \"o\"\n\nimport * as c from \"m\"\n\nEntity \"E\"\n"},
        LayoutCase{"ImportsSorted", kImportsBA,
                   "import { y } from \"a\"\nimport { x } from \"b\"\n\nEntity \"E\"\n"},
        LayoutCase{"ImportsKeptInSourceOrder", kImportsBA,
                   "import { x } from \"b\"\nimport { y } from \"a\"\n\nEntity \"E\"\n",
                   with(4, false, true, false)},
        LayoutCase{"SortIsStableAndBytewise",
                   "import {b} from \"m\" import {a} from \"m\" import {c,d as e,} from \"M\" "
                   "import * as w from \"m/x\"",
                   "import { c, d as e } from \"M\"\nimport { b } from \"m\"\n"
                   "import { a } from \"m\"\nimport * as w from \"m/x\"\n"},
        LayoutCase{"DeclarationsSeparatedByBlankLines", "Entity \"A\" Role \"B\" Dimension \"C\"",
                   "Entity \"A\"\n\nRole \"B\"\n\nDimension \"C\"\n"},
        LayoutCase{"PolicyConditionInSourceSpelling", kPolicy, "Policy p\n    as: (a = \"x\")\n"},
        LayoutCase{"IndentWidthZero", kPolicy, "Policy p\nas: (a = \"x\")\n", with(0, false)},
        LayoutCase{"IndentWidthTwo", kPolicy, "Policy p\n  as: (a = \"x\")\n", with(2, false)},
        LayoutCase{"TabsIgnoreWidth", kPolicy, "Policy p\n\tas: (a = \"x\")\n", with(7, true)},
        LayoutCase{"InstanceBodyIndented", "Instance i of \"E\" { b: 1, a: 2 }",
                   "Instance i of \"E\" {\n\ta: 2.0,\n\tb: 1.0\n}\n", with(4, true)},
        LayoutCase{"InstanceWithoutFieldsOnOneLine", "Instance i of \"E\" {}",
                   "Instance i of \"E\"\n"},
        LayoutCase{"MappingRuleWithoutFields", "Mapping \"m\" for SBVR { Flow \"F\" -> Edge {} }",
                   "Mapping \"m\" for sbvr {\n    Flow \"F\" -> Edge {  }\n}\n"},
        LayoutCase{"EmptyMapping", "Mapping \"m\" for kg {}", "Mapping \"m\" for kg {\n}\n"},
        LayoutCase{"EscapedNames", "Entity \"a\\tb\\nc\\rd\\\"e\\\\f\"",
                   "Entity \"a\\tb\\nc\\rd\\\"e\\\\f\"\n"},
        LayoutCase{"MultilineNameQuoted", "Entity \"\"\"two\nlines \"quoted\" x\"\"\"",
                   "Entity \"two\\nlines \\\"quoted\\\" x\"\n"},
        LayoutCase{"ReplacesWithTwoVersionsKeepsWholeName",
                   "Entity \"E\" @replaces \"a v1.0.0 b\" v2.0.0",
                   "Entity \"E\"\n    @replaces \"a v1.0.0 b\" v2.0.0\n"},
        LayoutCase{"EntityAnnotationsThenDomain", "Entity \"E\" @changes [\"x\"] in d",
                   "Entity \"E\"\n    @changes [\"x\"] in d\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormatterLayout, ParseErrorCarriesTheParserMessage) {
    auto result = format_program("Entity", FormatConfig{});
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind(), FormatError::Kind::Parse);
    EXPECT_TRUE(result.error().to_string().starts_with("Parse error: Syntax error at 1:7: "))
        << result.error().to_string();
    auto check = is_formatted("Entity", 4, false);
    ASSERT_FALSE(check.ok());
    EXPECT_EQ(check.error(), result.error());
}

TEST(FormatterLayout, CheckComparesByteForByte) {
    const auto check = [](std::string_view source, uint64_t width = 4, bool tabs = false) {
        auto result = is_formatted(source, width, tabs);
        EXPECT_TRUE(result.ok());
        return result.ok() && *result;
    };
    EXPECT_FALSE(check(""));
    EXPECT_TRUE(check("\n"));
    EXPECT_TRUE(check("Entity \"Customer\"\n"));
    EXPECT_FALSE(check("Entity  \"Customer\"\n"));
    EXPECT_FALSE(check("Entity \"Customer\""));
    EXPECT_FALSE(check("// only\n"));
    EXPECT_TRUE(check("// only\n\n"));
    EXPECT_TRUE(check("Policy p\n  as: true\n", 2));
    EXPECT_FALSE(check("Policy p\n  as: true\n"));
    EXPECT_TRUE(check("Policy p\n\tas: true\n", 9, true));
    // The check keeps comments and sorts imports whatever format_source was told.
    EXPECT_FALSE(check("import * as b from \"b\"\nimport * as a from \"a\"\n"));
}

// What the tree holds but no source produces still prints the way the layout says.
TEST(FormatterLayout, TreesBeyondTheGrammar) {
    Ast tree;
    ast::Policy policy{"p", std::nullopt, {}, Expression::literal(json::Value(true))};
    policy.metadata.kind = PolicyKind::Derivation;
    policy.metadata.modality = DeonticModality::Permission;
    tree.declarations.push_back(Spanned{std::move(policy)});
    tree.declarations.push_back(Spanned{ast::Entity{"a\x01z", std::nullopt, {}, std::nullopt}});
    Printer printer(FormatConfig{});
    printer.print_program(tree, {});
    auto text = std::move(printer).finish();
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(*text, "Policy p\n    as: true\n\nEntity \"a\x01z\"\n");
}

TEST(FormatterLayout, HugeIndentWidthIsRefusedBeforeAllocating) {
    for (uint64_t width :
         {uint64_t{1} << 31, uint64_t{1} << 62, std::numeric_limits<uint64_t>::max()}) {
        SCOPED_TRACE(width);
        auto result = format_program(kPolicy, with(width, false));
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().kind(), FormatError::Kind::OutputTooLarge);
        EXPECT_TRUE(result.error().to_string().starts_with("Formatted source too large: "));
        // A text that large is certainly not the one given.
        auto check = is_formatted(kPolicy, width, false);
        ASSERT_TRUE(check.ok());
        EXPECT_FALSE(*check);
    }
    // Without an indented line the width costs nothing.
    EXPECT_EQ(formatted("Entity \"E\"", with(std::numeric_limits<uint64_t>::max(), false)),
              "Entity \"E\"\n");
    // A large but sane width is honoured exactly.
    EXPECT_EQ(formatted(kPolicy, with(100000, false)),
              "Policy p\n" + std::string(100000, ' ') + "as: (a = \"x\")\n");
}

// The size refusal names the size when it fits 64 bits; kinds follow the alternatives.
TEST(FormatterLayout, RefusalTexts) {
    const FormatError sized = FormatError::OutputTooLarge{uint64_t{1} << 40};
    const FormatError unsized = FormatError::OutputTooLarge{std::nullopt};
    EXPECT_EQ(sized.to_string(), "Formatted source too large: 1099511627776 bytes");
    EXPECT_EQ(unsized.to_string(), "Formatted source too large: over 2^64 bytes");
    EXPECT_EQ(FormatError(FormatError::Parse{"x"}).to_string(), "Parse error: x");
    EXPECT_EQ(sized.kind(), FormatError::Kind::OutputTooLarge);
    EXPECT_NE(sized, unsized);
}

} // namespace
} // namespace vok
