// The CALM text of expressions: every template, and trees deeper than any stack.
#include "calm/calm_expression_text.h"

#include <gtest/gtest.h>

namespace vok::calm {
namespace {

Expression var(const char* name) {
    return Expression::variable(name);
}
Expression num(int64_t v) {
    return Expression::literal(json::Value::from_i64(v));
}
Expression member(const char* object, const char* name) {
    return expr::MemberAccess{object, name};
}

TEST(CalmExpressionText, Templates) {
    const Expression flows = var("flows");
    const auto gt0 = [] { return Expression::binary(BinaryOp::GreaterThan, var("x"), num(0)); };
    const std::pair<Expression, std::string> cases[] = {
        {Expression::binary(BinaryOp::GreaterThan, var("a"), num(5)), "(a > 5)"},
        {Expression::quantifier(
             Quantifier::ForAll, "f", Expression(flows),
             Expression::binary(BinaryOp::GreaterThan, member("f", "quantity"), num(0))),
         "forall f in flows: ((f.quantity > 0))"},
        {Expression::quantifier(Quantifier::ExistsUnique, "f", Expression(flows), var("ok")),
         "exists_unique f in flows: (ok)"},
        {Expression::literal(json::Value("say \"hi\"")), "\"say \\\"hi\\\"\""},
        {Expression::literal(json::Value(nullptr)), "null"},
        {Expression::literal(json::Array{num(1).get_if<expr::Literal>()->value, json::Value(true)}),
         "[1,true]"},
        {Expression(expr::QuantityLiteral{*Decimal::parse("150.50"), "kg"}), "150.50 \"kg\""},
        {Expression(expr::TimeLiteral{"2024-01-01T00:00:00Z"}), "\"2024-01-01T00:00:00Z\""},
        {Expression(expr::IntervalLiteral{"a", "b"}), "interval(\"a\", \"b\")"},
        {Expression::unary(UnaryOp::Not, var("a")), "not a"},
        {Expression::unary(UnaryOp::Negate, var("a")), "- a"},
        {Expression(expr::Cast{Box(var("a")), "kg"}), "a as \"kg\""},
        {Expression::aggregation(AggregateFunction::Count, flows, std::nullopt, std::nullopt),
         "count(flows)"},
        {Expression::aggregation(AggregateFunction::Sum, flows, "quantity", std::nullopt),
         "sum(flows.quantity )"},
        {Expression::aggregation(AggregateFunction::Min, flows, std::nullopt, gt0()),
         "min(flows where (x > 0))"},
        {Expression::aggregation(AggregateFunction::Max, flows, "quantity", gt0()),
         "max(flows.quantity where (x > 0))"},
        {Expression(expr::GroupBy{"f", Box(flows), std::nullopt, Box(member("f", "resource")),
                                  Box(var("c"))}),
         "group_by(f in flows: f.resource) { c }"},
        {Expression(expr::GroupBy{"f", Box(flows), Box(gt0()), Box(var("k")), Box(var("c"))}),
         "group_by(f in flows where (x > 0): k) { c }"},
        {Expression(expr::AggregationComprehension{AggregateFunction::Avg, "f", Box(flows),
                                                   WindowSpec{7, "days"}, Box(gt0()),
                                                   Box(member("f", "quantity")), std::string("t")}),
         "avg(f in flows over last 7 \"days\" WHERE (x > 0): f.quantity as \"t\")"},
        {Expression(expr::AggregationComprehension{AggregateFunction::Sum, "f", Box(flows),
                                                   std::nullopt,
                                                   Box(Expression::literal(json::Value(true))),
                                                   Box(member("f", "quantity")), std::nullopt}),
         "sum(f in flows: f.quantity)"},
    };
    for (const auto& [expression, text] : cases)
        EXPECT_EQ(expression_to_calm_text(expression), text);
}

TEST(CalmExpressionText, OperatorWords) {
    const std::pair<BinaryOp, const char*> words[] = {
        {BinaryOp::And, "and"},
        {BinaryOp::Or, "or"},
        {BinaryOp::Equal, "="},
        {BinaryOp::NotEqual, "!="},
        {BinaryOp::LessThanOrEqual, "<="},
        {BinaryOp::GreaterThanOrEqual, ">="},
        {BinaryOp::Divide, "/"},
        {BinaryOp::StartsWith, "startswith"},
        {BinaryOp::EndsWith, "endswith"},
        {BinaryOp::HasRole, "has_role"},
        {BinaryOp::During, "during"},
        {BinaryOp::Matches, "matches"},
    };
    for (const auto& [op, word] : words) {
        EXPECT_EQ(expression_to_calm_text(Expression::binary(op, var("a"), var("b"))),
                  std::string("(a ") + word + " b)");
    }
}

TEST(CalmExpressionText, DeepChainsDoNotExhaustTheStack) {
    constexpr int kDepth = 200'000;
    Expression chain = var("a");
    for (int i = 0; i < kDepth; ++i)
        chain = Expression::binary(BinaryOp::And, std::move(chain), var("b"));
    const std::string text = expression_to_calm_text(chain);
    EXPECT_EQ(text.size(), size_t{kDepth} * 8 + 1);
    EXPECT_EQ(text.substr(text.size() - 7), " and b)");

    Expression negations = var("x");
    for (int i = 0; i < kDepth; ++i)
        negations = Expression::unary(UnaryOp::Not, std::move(negations));
    EXPECT_EQ(expression_to_calm_text(negations).size(), size_t{kDepth} * 4 + 1);
}

} // namespace
} // namespace vok::calm
