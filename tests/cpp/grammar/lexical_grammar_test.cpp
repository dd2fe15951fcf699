// Lexical rules, header and imports: what each rule matches at the start of a text.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "grammar_test_util.h"

namespace vok {
namespace {

using grammar_test::matched;
using grammar_test::shape;

struct MatchCase {
    grammar::Rule rule;
    std::string text;
    std::optional<std::string> expected; // the matched text; nothing when the rule fails
};

class LexicalMatch : public ::testing::TestWithParam<MatchCase> {};

TEST_P(LexicalMatch, MatchesExactlyTheExpectedPrefix) {
    const MatchCase& c = GetParam();
    EXPECT_EQ(matched(c.rule, c.text), c.expected)
        << grammar::rule_name(c.rule) << " on [" << c.text << "]";
}

const std::nullopt_t no = std::nullopt;

INSTANTIATE_TEST_SUITE_P(Words, LexicalMatch,
                         ::testing::Values(MatchCase{grammar::Rule::identifier, "x²", "x²"},
                                           MatchCase{grammar::Rule::identifier, "_tmp", "_tmp"},
                                           MatchCase{grammar::Rule::identifier, "Ωmega", "Ωmega"},
                                           MatchCase{grammar::Rule::identifier, "名前", "名前"},
                                           MatchCase{grammar::Rule::identifier, "aⅫ٣", "aⅫ٣"},
                                           MatchCase{grammar::Rule::identifier, "2x", no},
                                           MatchCase{grammar::Rule::identifier, "Ⅻa", no},
                                           MatchCase{grammar::Rule::identifier, "my-name", "my"},
                                           MatchCase{grammar::Rule::identifier, "a.b$c", "a"},
                                           MatchCase{grammar::Rule::identifier, "entity", "entity"},
                                           MatchCase{grammar::Rule::identifier, "x\xff", "x"},
                                           MatchCase{grammar::Rule::in_keyword, "in\nx", "in\n"},
                                           MatchCase{grammar::Rule::in_keyword, "IN  x", "IN  "},
                                           MatchCase{grammar::Rule::in_keyword, "in\"x\"", no},
                                           MatchCase{grammar::Rule::in_keyword, "in// c", no},
                                           MatchCase{grammar::Rule::in_keyword, "in", no},
                                           MatchCase{grammar::Rule::in_keyword, "inx", no},
                                           MatchCase{grammar::Rule::boolean, "TRUE", "TRUE"},
                                           MatchCase{grammar::Rule::boolean, "False", "False"},
                                           MatchCase{grammar::Rule::boolean, "trueish", "true"},
                                           MatchCase{grammar::Rule::boolean, "yes", no}));

INSTANTIATE_TEST_SUITE_P(
    Literals, LexicalMatch,
    ::testing::Values(
        MatchCase{grammar::Rule::string_literal, R"("a\u{1F600}b")", R"("a\u{1F600}b")"},
        MatchCase{grammar::Rule::string_literal, R"("a\u{}")", no},
        MatchCase{grammar::Rule::string_literal, R"("a\u{1234567}")", no},
        MatchCase{grammar::Rule::string_literal, R"("a\u{123456}")", R"("a\u{123456}")"},
        MatchCase{grammar::Rule::string_literal, R"("a\qb")", no},
        MatchCase{grammar::Rule::string_literal, R"("a\u0041")", no},
        MatchCase{grammar::Rule::string_literal, R"("\\\"\n\r\t" rest)", R"("\\\"\n\r\t")"},
        MatchCase{grammar::Rule::string_literal, "\"line\nbreak\"", "\"line\nbreak\""},
        MatchCase{grammar::Rule::string_literal, "\"unterminated", no},
        MatchCase{grammar::Rule::string_literal, "\"ends in backslash\\", no},
        MatchCase{grammar::Rule::multiline_string, R"("""x"y""")", R"("""x"y""")"},
        MatchCase{grammar::Rule::multiline_string, "\"\"\"a\nb\"\"\"\"", "\"\"\"a\nb\"\"\""},
        MatchCase{grammar::Rule::multiline_string, R"("""abc)", no},
        MatchCase{grammar::Rule::name, R"("""abc)", R"("")"},
        MatchCase{grammar::Rule::number, "-0.5", "-0.5"},
        MatchCase{grammar::Rule::number, "007", "007"},
        MatchCase{grammar::Rule::number, "12", "12"}, MatchCase{grammar::Rule::number, ".5", no},
        MatchCase{grammar::Rule::number, "5.", "5"}, MatchCase{grammar::Rule::number, "1e3", "1"},
        MatchCase{grammar::Rule::number, "+1", no}, MatchCase{grammar::Rule::number, "-x", no},
        MatchCase{grammar::Rule::version, "1.2.3", "1.2.3"},
        MatchCase{grammar::Rule::version, "1.2", no},
        MatchCase{grammar::Rule::version, "1.2.3.4", "1.2.3"},
        MatchCase{grammar::Rule::version, "v1.2.3", no},
        MatchCase{grammar::Rule::string_array, R"(["a"])", R"(["a"])"},
        MatchCase{grammar::Rule::string_array, R"([ "a" , "b" ])", R"([ "a" , "b" ])"},
        MatchCase{grammar::Rule::string_array, "[]", no},
        MatchCase{grammar::Rule::string_array, R"(["a",])", no}));

INSTANTIATE_TEST_SUITE_P(
    Header, LexicalMatch,
    ::testing::Values(
        MatchCase{grammar::Rule::annotation, R"(@ namespace "a")", R"(@ namespace "a")"},
        MatchCase{grammar::Rule::annotation, R"(@Namespace "a")", R"(@Namespace "a")"},
        MatchCase{grammar::Rule::annotation, "@NAMESPACE // c\n \"a\"", "@NAMESPACE // c\n \"a\""},
        MatchCase{grammar::Rule::annotation, R"(@domain "x")", no},
        MatchCase{grammar::Rule::import_decl, R"(import { a, b as c, } from "m")",
                  R"(import { a, b as c, } from "m")"},
        MatchCase{grammar::Rule::import_decl, R"(import {} from "m")", no},
        MatchCase{grammar::Rule::import_decl, R"(import * from "m")", no},
        MatchCase{grammar::Rule::import_decl, R"(IMPORT * AS x FROM "m")",
                  R"(IMPORT * AS x FROM "m")"},
        MatchCase{grammar::Rule::import_decl, R"(import { a,, b } from "m")", no}));

TEST(FileStructure, EmptyAndCommentOnlyFilesHaveAnEmptyHeaderAndEnd) {
    const std::string empty = R"(program(file_header "" EOI ""))";
    EXPECT_EQ(shape(grammar::Rule::program, ""), empty);
    EXPECT_EQ(shape(grammar::Rule::program, "  // only a comment\n\t\r\n// and another"), empty);
}

TEST(FileStructure, HeaderPairs) {
    EXPECT_EQ(shape(grammar::Rule::program, "@namespace \"n\" import { a, b as c, } from \"m\"\n"),
              R"(program(file_header(annotation(annotation_name "namespace" string_literal ""n"") )"
              R"(import_decl(import_specifier(import_named(import_item(identifier "a") )"
              R"(import_item(identifier "b" identifier "c"))) string_literal ""m"")) EOI ""))");
    EXPECT_EQ(shape(grammar::Rule::import_decl, R"(import * as x from "m")"),
              R"(import_decl(import_specifier(import_wildcard(identifier "x")) )"
              R"(string_literal ""m""))");
}

TEST(FileStructure, LeadingAndTrailingTriviaAndAFinalCommentWithoutLineFeed) {
    EXPECT_EQ(grammar_test::program_error("\n  Entity \"A\" // trailing"), "ok");
    EXPECT_EQ(grammar_test::program_error("Entity \"A\"\r\n"), "ok");
}

TEST(DslParser, RuleEnumerationAndAnyStartRule) {
    EXPECT_EQ(grammar::kRuleCount, 102u);
    EXPECT_EQ(grammar::rule_name(grammar::Rule::EOI), "EOI");
    EXPECT_EQ(grammar::rule_name(static_cast<grammar::Rule>(47)), "expression");
    EXPECT_EQ(grammar::rule_name(grammar::Rule::property_mapping), "property_mapping");
    for (size_t i = 0; i < grammar::kRuleCount; ++i) {
        const grammar::Rule rule = static_cast<grammar::Rule>(i);
        for (std::string_view text : {"", " Entity \"x\"", "{ \"a\": 1 }", "a or b"}) {
            auto result = grammar::DslParser::parse(rule, text);
            if (result.ok()) {
                EXPECT_LE(result->pairs().size(), 1u) << grammar::rule_name(rule);
            } else {
                EXPECT_LE(result.error().position, text.size()) << grammar::rule_name(rule);
            }
        }
    }
    // Silent rules leave no pair.
    auto skipped = grammar::DslParser::parse(grammar::Rule::WHITESPACE, " ");
    ASSERT_TRUE(skipped.ok());
    EXPECT_TRUE(skipped->pairs().empty());
}

} // namespace
} // namespace vok
