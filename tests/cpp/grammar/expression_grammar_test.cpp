// Expressions: precedence and grouping, primary forms, and what a lone expression consumes.
//
// `grouped` reads the pair tree back as a fully parenthesised text (the way the expression
// builder nests operators), so grouping is checked without spelling out ten pair levels per
// operand.
#include <gtest/gtest.h>

#include <string>

#include "grammar_test_util.h"

namespace vok {
namespace {

std::string grouped(const grammar::DslPair& pair);

// Left fold over "operand (operator operand)*" children; the operator is a pair or, for or/and,
// implied by the rule.
std::string fold(const grammar::DslPair& pair, const char* implied_operator) {
    auto children = pair.children();
    std::string text = grouped(*children.next());
    while (auto next = children.next()) {
        std::string op = implied_operator;
        if (op.empty()) {
            op = std::string(next->as_str());
            next = children.next();
        }
        text = "(" + text + " " + op + " " + grouped(*next) + ")";
    }
    return text;
}

std::string grouped(const grammar::DslPair& pair) {
    auto children = pair.children();
    switch (pair.rule()) {
    case grammar::Rule::expression:
    case grammar::Rule::primary_expr:
    case grammar::Rule::literal:
        return grouped(*children.next());
    case grammar::Rule::or_expr:
        return fold(pair, "or");
    case grammar::Rule::and_expr:
        return fold(pair, "and");
    case grammar::Rule::comparison_expr:
    case grammar::Rule::additive_expr:
    case grammar::Rule::multiplicative_expr:
        return fold(pair, "");
    case grammar::Rule::not_expr: {
        const grammar::DslPair inner = *children.next();
        return inner.rule() == grammar::Rule::not_expr ? "(not " + grouped(inner) + ")"
                                                       : grouped(inner);
    }
    case grammar::Rule::unary_expr: {
        const grammar::DslPair inner = *children.next();
        return inner.rule() == grammar::Rule::unary_expr ? "(-" + grouped(inner) + ")"
                                                         : grouped(inner);
    }
    case grammar::Rule::cast_expr: {
        std::string text = grouped(*children.next());
        if (auto target = children.next())
            text = "(" + text + " as " + std::string(target->as_str()) + ")";
        return text;
    }
    default: {
        std::string out;
        peg::dump_pair(pair, grammar::rule_name, out);
        return out;
    }
    }
}

// The grouping of the expression at the start of `text`, then "|" and the text left after it.
std::string read(std::string_view text) {
    auto result = grammar::DslParser::parse(grammar::Rule::expression, text);
    if (!result.ok())
        return "<" + ParserError::from_parse_failure(result.error()).to_string() + ">";
    const grammar::DslPair root = *result->root();
    return grouped(root) + "|" + std::string(text.substr(root.end()));
}

struct Case {
    std::string text;
    std::string expected;
};

class ExpressionReading : public ::testing::TestWithParam<Case> {};

TEST_P(ExpressionReading, GroupsAndConsumes) {
    EXPECT_EQ(read(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Precedence, ExpressionReading,
    ::testing::Values(
        Case{"a or b and not c = 1 + 2 * -d",
             R"((identifier "a" or (identifier "b" and (not (identifier "c" = (number "1" + )"
             R"((number "2" * (-identifier "d")))))))|)"},
        Case{"a or b or c", R"(((identifier "a" or identifier "b") or identifier "c")|)"},
        Case{"a - b + c", R"(((identifier "a" - identifier "b") + identifier "c")|)"},
        Case{"a / b * c", R"(((identifier "a" / identifier "b") * identifier "c")|)"},
        Case{"not not a", R"((not (not identifier "a"))|)"}, Case{"--5", R"((-(-number "5"))|)"},
        Case{"- 5", R"((-number "5")|)"},
        Case{"(a or b) and c", R"(((identifier "a" or identifier "b") and identifier "c")|)"},
        Case{"x as \"decimal\" as \"int\"", R"((identifier "x" as "decimal")|as "int")"},
        Case{"a >= b", R"((identifier "a" >= identifier "b")|)"},
        Case{"a < b < c", R"((identifier "a" < identifier "b")|< c)"},
        Case{"a == b", R"(identifier "a"|== b)"},
        Case{"x CONTAINS y", R"((identifier "x" CONTAINS identifier "y")|)"},
        Case{"x has_role y", R"((identifier "x" has_role identifier "y")|)"}));

INSTANTIATE_TEST_SUITE_P(
    NoWordBoundary, ExpressionReading,
    ::testing::Values(Case{"notify = 1", R"((not (identifier "ify" = number "1"))|)"},
                      Case{"a = 1 andy = 2",
                           R"(((identifier "a" = number "1") and (identifier "y" = number "2"))|)"},
                      Case{"trueValue", R"(boolean "true"|Value)"},
                      Case{"count(flowsTotal)", R"(identifier "count"|(flowsTotal))"},
                      Case{"counter > 5", R"((identifier "counter" > number "5")|)"},
                      Case{"forall e in entities: e.owner != \"\"",
                           R"(identifier "forall"|e in entities: e.owner != "")"},
                      Case{"a.b.c", R"(member_access(identifier "a" identifier "b")|.c)"},
                      Case{"@ warehouse", R"(<Syntax error at 1:1: expected primary_expr>)"},
                      Case{"@warehouse", R"(instance_reference "@warehouse"|)"},
                      Case{"  a = 1", R"(<Syntax error at 1:1: expected primary_expr>)"},
                      Case{"a = 1 trailing", R"((identifier "a" = number "1")|trailing)"}));

INSTANTIATE_TEST_SUITE_P(
    Literals, ExpressionReading,
    ::testing::Values(
        Case{R"("2024-01-15T10:30:00Z")", R"(time_literal ""2024-01-15T10:30:00Z""|)"},
        Case{R"("2024-01-15T10:30:00-05:30")", R"(time_literal ""2024-01-15T10:30:00-05:30""|)"},
        Case{R"("2024-01-15")", R"(string_literal ""2024-01-15""|)"},
        Case{R"("2024-01-15T10:30:00.5Z")", R"(string_literal ""2024-01-15T10:30:00.5Z""|)"},
        Case{R"("2024-01-15t10:30:00z")", R"(string_literal ""2024-01-15t10:30:00z""|)"},
        Case{R"(100 "kg")", R"(quantity_literal(number "100" string_literal ""kg"")|)"},
        Case{"100", R"(number "100"|)"}, Case{R"("""text""")", R"(multiline_string """"text""""|)"},
        Case{R"(interval("a", "b"))",
             R"(interval_literal(string_literal ""a"" string_literal ""b"")|)"},
        Case{"FALSE", R"(boolean "FALSE"|)"}));

TEST(ExpressionShape, AggregationsQuantifiersAndGroupBy) {
    EXPECT_EQ(read("count(flows)"),
              R"(aggregation_expr(aggregate_fn "count" aggregation_simple(collection "flows"))|)");
    EXPECT_EQ(read("SUM(orders.total)"),
              R"(aggregation_expr(aggregate_fn "SUM" aggregation_simple(identifier "orders" )"
              R"(identifier "total"))|)");
    const std::string comprehension =
        read(R"(sum(f in flows over last -24 "hours" where f.ok: f.quantity))");
    EXPECT_EQ(
        comprehension.rfind(R"(aggregation_expr(aggregate_fn "sum" aggregation_comprehension()"
                            R"(identifier "f" collection "flows" window_clause(number "-24" )"
                            R"(string_literal ""hours"") expression()",
                            0),
        0u)
        << comprehension;
    EXPECT_TRUE(read("forall e in Entities: (e.owner != \"\")")
                    .starts_with(R"(quantified_expr(quantifier "forall" identifier "e" )"
                                 R"(collection "Entities" expression()"));
    EXPECT_TRUE(read("EXISTS_UNIQUE x in flows: (x)")
                    .starts_with(R"(quantified_expr(quantifier "EXISTS_UNIQUE")"));
    const std::string group =
        read("group_by(f in flows where f.quantity > 0: f.resource) { count(flows) > 1 }");
    EXPECT_EQ(group.rfind(R"(group_by_expr(identifier "f" collection "flows" expression()", 0), 0u)
        << group;
    EXPECT_EQ(group.back(), '|');
}

TEST(ExpressionShape, MinusBeforeANumberIsAlwaysTheOperator) {
    EXPECT_EQ(grammar_test::shape(grammar::Rule::expression, "-5"),
              R"(expression(or_expr(and_expr(not_expr(comparison_expr(additive_expr()"
              R"(multiplicative_expr(unary_expr(unary_expr(cast_expr(primary_expr(literal()"
              R"(number "5")))))))))))))");
}

} // namespace
} // namespace vok
