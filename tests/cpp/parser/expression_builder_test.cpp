// Building expressions from source text: precedence, literals, windows and the builder's messages.
#include <gtest/gtest.h>

#include "expression/expression_text.h"
#include "parser/expression_builder.h"
#include "parser/parse_source.h"

namespace vok {
namespace {

// The text form of the expression of `Policy p as: <source>`.
std::string built(const std::string& source) {
    auto ast = parse_source("Policy p as: " + source);
    if (!ast.ok()) return "error: " + ast.error().to_string();
    return expression_text(std::get<ast::Policy>(ast->declarations.at(0).node).expression);
}

TEST(ExpressionBuilder, PrecedenceAndAssociativity) {
    const std::pair<const char*, const char*> cases[] = {
        {"a or b and not c = 1 + 2 * -d", "(a OR (b AND NOT (c == (1.0 + (2.0 * - d)))))"},
        {"a or b or c", "((a OR b) OR c)"},
        {"a and b or c", "((a AND b) OR c)"},
        {"a - b - c", "((a - b) - c)"},
        {"a / b * c", "((a / b) * c)"},
        {"not not x", "NOT NOT x"},
        {"not x = 1", "NOT (x == 1.0)"},
        {"-5", "- 5.0"},
        {"- -x", "- - x"},
        {"(a)", "a"},
        {"x CONTAINS y and x StartsWith y and x HAS_ROLE y",
         "(((x CONTAINS y) AND (x STARTS_WITH y)) AND (x HAS_ROLE y))"},
        {"x >= 1 and x != 2", "((x >= 1.0) AND (x != 2.0))"},
        {"amount as \"decimal\"", "amount as \"decimal\""},
        {"TRUE or False", "(true OR false)"},
        {"12.50 \"kg\" > 3 \"kg\"", "(12.50 kg > 3 kg)"},
        {"\"2024-01-15T10:30:00Z\" before \"2024-01-15\"",
         "(\"2024-01-15T10:30:00Z\" BEFORE \"2024-01-15\")"},
        {"x during interval(\"a\", \"b\")", "(x DURING interval(\"a\", \"b\"))"},
        {"forall x in Flows: (x.quantity > 0)", "ForAll(x in flows: (x.quantity > 0.0))"},
        {"exists_unique e in entities: (e.name = \"A\")",
         "ExistsUnique(e in entities: (e.name == \"A\"))"},
        {"count(myItems) > 1", "(COUNT(myItems) > 1.0)"},
        {"count(FLOWS) > 1", "(COUNT(flows) > 1.0)"},
        {"sum(flows.quantity) > 1", "(SUM(flows.quantity) > 1.0)"},
        {"sum(f in flows over last 30 \"days\" where f.q > 0: f.q) > 1",
         "(SUM(f in flows OVER LAST 30 \"days\" WHERE (f.q > 0.0): f.q) > 1.0)"},
        {"avg(f in flows: f.q) > 1", "(AVG(f in flows: f.q) > 1.0)"},
        {"group_by(f in flows where f.q > 0: f.r) { count(flows) > 1 }",
         "group_by(f in flows WHERE (f.q > 0.0): f.r) { (COUNT(flows) > 1.0) }"},
        {"\"\"\"multi\nline\"\"\" = x", "(\"multi\\nline\" == x)"},
    };
    for (auto [source, text] : cases)
        EXPECT_EQ(built(source), text) << source;
}

TEST(ExpressionBuilder, WindowKeepsItsUnitAsWritten) {
    auto ast = parse_source("Policy p as: sum(f in flows over last 30 \"days\": f.q) > 0");
    ASSERT_TRUE(ast.ok());
    const auto& e = std::get<ast::Policy>(ast->declarations[0].node).expression;
    const auto& cmp = std::get<expr::Binary>(e.node());
    const auto& comp = std::get<expr::AggregationComprehension>(cmp.left->node());
    ASSERT_TRUE(comp.window.has_value());
    EXPECT_EQ(comp.window->duration, 30u);
    EXPECT_EQ(comp.window->unit, "days");
    EXPECT_EQ(*comp.predicate, Expression::literal(json::Value(true)));
}

TEST(ExpressionBuilder, Messages) {
    const std::pair<const char*, const char*> cases[] = {
        {"sum(f in flows over last -1 \"days\": f.q) > 0",
         "Invalid quantity: Window duration must be non-negative"},
        {"sum(f in flows over last 3000000000 \"days\": f.q) > 0",
         "Invalid quantity: Invalid number: 3000000000"},
        {"@warehouse = 1", "Invalid expression: Unexpected primary expression: instance_reference"},
        {"x = \"a\\u{41}\"",
         "Grammar error: Invalid string literal escape sequences: \"a\\u{41}\" - invalid escape at "
         "line 1 column 8"},
    };
    for (auto [source, message] : cases) {
        auto ast = parse_source(std::string("Policy p as: ") + source);
        ASSERT_FALSE(ast.ok()) << source;
        EXPECT_EQ(ast.error().to_string(), message) << source;
    }
}

TEST(DurationUnits, WordsAndOverflow) {
    EXPECT_EQ(parse_duration_unit(2, "Hours", 1, 1)->seconds, 7200);
    EXPECT_EQ(parse_duration_unit(0, "d", 1, 1)->seconds, 0);
    EXPECT_EQ(parse_duration_unit(-3, "m", 1, 1)->seconds, -180);
    EXPECT_EQ(parse_duration_unit(1, "week", 4, 7).error().to_string(),
              "Grammar error: Invalid duration unit 'week' at 4:7 (allowed: second(s)/s, "
              "minute(s)/m, hour(s)/h, day(s)/d)");
    EXPECT_EQ(parse_duration_unit(9223372036854775807, "m", 2, 3).error().to_string(),
              "Grammar error: Duration overflow for value 9223372036854775807 m at 2:3");
}

} // namespace
} // namespace vok
