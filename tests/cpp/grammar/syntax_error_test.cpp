// Syntax errors of failed grammar runs, word for word. Each expectation was derived by hand from
// the attempt-tracking rules: the farthest position reached, and the rules tried there (a rule
// stands in for its children when they made more than one attempt at its own position).
#include <gtest/gtest.h>

#include <string>

#include "grammar_test_util.h"

namespace vok {
namespace {

struct Case {
    std::string source;
    std::string expected;
};

class ProgramSyntaxError : public ::testing::TestWithParam<Case> {};

TEST_P(ProgramSyntaxError, IsReportedExactly) {
    EXPECT_EQ(grammar_test::program_error(GetParam().source), GetParam().expected)
        << GetParam().source;
}

INSTANTIATE_TEST_SUITE_P(
    Programs, ProgramSyntaxError,
    ::testing::Values(
        Case{"Foo", "Syntax error at 1:1: expected program"},
        Case{"Entity \"abc", "Syntax error at 1:8: expected name"},
        Case{"@domain \"x\"", "Syntax error at 1:2: expected annotation_name"},
        // Two names: "a or b".
        Case{"Resource \"X\" unit", "Syntax error at 1:18: expected in_keyword or string_literal"},
        // A resource, then the keyword of the next declaration with nothing after it.
        Case{"Resource \"X\"\nEntity", "Syntax error at 2:7: expected in_keyword or name"},
        // Three names: "a, b, or c".
        Case{"Flow \"M\" @",
             "Syntax error at 1:11: expected ea_replaces, ea_changes, or identifier"},
        Case{"Entity \"X\" @domain \"x\"",
             "Syntax error at 1:13: expected ea_replaces or ea_changes"},
        Case{"Entity \"A\"\nEntity \"B\"\n}",
             "Syntax error at 3:1: expected EOI, in_keyword, declaration, or entity_annotation"},
        Case{"import * as x from \"m\"\n@owner \"o\"",
             "Syntax error at 2:1: expected EOI, import_decl, or declaration"},
        // The incomplete per clause is dropped; literals ("v", "as") are never listed.
        Case{"Policy p per Constraint Obligation as: true",
             "Syntax error at 1:10: expected policy_annotation"},
        Case{"Unit \"g\" of \"Mass\" factor x base \"kg\"",
             "Syntax error at 1:27: expected number"},
        // Columns count characters, not bytes.
        Case{"Entity \"é\" €",
             "Syntax error at 1:12: expected EOI, in_keyword, declaration, or entity_annotation"},
        Case{"\t\tEntity \"X\" v1.2", "Syntax error at 1:15: expected version"}));

TEST(ExpressionSyntaxError, StartsAtTheFirstCharacter) {
    auto result = parse_expression("  a = 1");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().to_string(), "Syntax error at 1:1: expected primary_expr");
    EXPECT_EQ(result.error().kind(), ParserError::Kind::Syntax);
}

} // namespace
} // namespace vok
