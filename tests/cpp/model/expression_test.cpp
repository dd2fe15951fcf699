// Expressions: text form, the policy-form reader, the syntax-tree writer and deep trees.
#include <gtest/gtest.h>

#include "expression/expression_json.h"
#include "expression/expression_text.h"
#include "json/text_deserializer.h"

namespace vok {
namespace {

Expression var(const char* n) {
    return Expression::variable(n);
}
Expression str_lit(const char* s) {
    return Expression::literal(json::Value(s));
}
Expression bool_lit(bool b) {
    return Expression::literal(json::Value(b));
}

Expression comprehension(Expression predicate) {
    return expr::AggregationComprehension{
        AggregateFunction::Sum,    "x",           Box(var("xs")), WindowSpec{30, "days"},
        Box(std::move(predicate)), Box(var("x")), std::nullopt};
}

TEST(ExpressionText, TableOfForms) {
    auto qty = [](const char* v, const char* unit) {
        return Expression(expr::QuantityLiteral{*Decimal::parse(v), unit});
    };
    const std::pair<Expression, std::string> cases[] = {
        {Expression::binary(BinaryOp::And, var("a"), var("b")), "(a AND b)"},
        {Expression::binary(BinaryOp::And, var("a"),
                            Expression::binary(BinaryOp::Or, var("c"), var("d"))),
         "(a AND (c OR d))"},
        {Expression::unary(UnaryOp::Negate, var("x")), "- x"},
        {Expression::unary(UnaryOp::Not,
                           Expression::binary(BinaryOp::Equal, var("s"), str_lit("open"))),
         "NOT (s == \"open\")"},
        {qty("100", "USD"), "100 USD"},
        {qty("1.50", "kg"), "1.50 kg"},
        {Expression::aggregation(AggregateFunction::Count, var("items"), std::nullopt,
                                 std::nullopt),
         "COUNT(items)"},
        {Expression::aggregation(AggregateFunction::Count, var("items"), "amount", std::nullopt),
         "COUNT(items.amount)"},
        {Expression::quantifier(Quantifier::ForAll, "x", var("xs"), var("ok")),
         "ForAll(x in xs: ok)"},
        {comprehension(bool_lit(true)), "SUM(x in xs OVER LAST 30 \"days\": x)"},
        {comprehension(bool_lit(false)), "SUM(x in xs OVER LAST 30 \"days\" WHERE false: x)"},
        {Expression(expr::Cast{Box(var("p")), "Money"}), "p as \"Money\""},
        {Expression::literal(*json::parse(R"({"b":1,"a":1})")), "{\"a\":1,\"b\":1}"},
        {Expression::literal(json::Value::from_f64(5.0)), "5.0"},
        {Expression(expr::IntervalLiteral{"a", "b"}), "interval(\"a\", \"b\")"},
        {Expression::binary(BinaryOp::StartsWith, var("n"), str_lit("x")), "(n STARTS_WITH \"x\")"},
    };
    for (const auto& [e, text] : cases)
        EXPECT_EQ(expression_text(e), text);
}

TEST(ExpressionValue, CopyAndEquality) {
    Expression a = Expression::binary(BinaryOp::And, var("a"), var("b"));
    Expression copy = a;
    EXPECT_EQ(copy, a);
    std::get<expr::Binary>(copy.node()).op = BinaryOp::Or;
    EXPECT_NE(copy, a);
    EXPECT_EQ(expression_text(a), "(a AND b)");
    EXPECT_EQ(Expression(expr::QuantityLiteral{*Decimal::parse("1.50"), "kg"}),
              Expression(expr::QuantityLiteral{*Decimal::parse("1.5"), "kg"}));
    auto no_filter = Expression::aggregation(AggregateFunction::Sum, var("f"), "q", std::nullopt);
    auto with_filter = Expression::aggregation(AggregateFunction::Sum, var("f"), "q", var("p"));
    EXPECT_NE(no_filter, with_filter);
}

TEST(ExpressionValue, HundredThousandLevelsCopyComparePrintAndDestroy) {
    Expression chain = var("x");
    for (int i = 0; i < 100000; ++i)
        chain = Expression::unary(UnaryOp::Not, std::move(chain));
    Expression copy = chain;
    EXPECT_EQ(copy, chain);
    std::string text = expression_text(copy);
    EXPECT_EQ(text.size(), 100000 * 4 + 1);
    std::string json;
    json::Writer w(json);
    write_expression_json(w, chain);
    EXPECT_GT(json.size(), 100000u * 30);
}

Result<Expression, json::Error> read(std::string_view text) {
    return json::read_document(text, &read_expression);
}

TEST(PolicyForm, ReadsEveryVariant) {
    auto e = read(R"({"Binary":{"op":"GreaterThan","left":{"Variable":"amount"},
                      "right":{"QuantityLiteral":{"value":100,"unit":"USD"}}}})");
    ASSERT_TRUE(e.ok()) << e.error().to_string();
    EXPECT_EQ(expression_text(*e), "(amount > 100 USD)");

    auto same = read(R"({"Binary":["GreaterThan",{"Variable":"amount"},
                      {"QuantityLiteral":{"value":"100","unit":"USD"}}]})");
    ASSERT_TRUE(same.ok()) << same.error().to_string();
    EXPECT_EQ(*same, *e);

    auto t = read(R"({"TimeLiteral":"2024-01-15T10:30:00Z"})");
    ASSERT_TRUE(t.ok());
    EXPECT_EQ(t->get_if<expr::TimeLiteral>()->timestamp, "2024-01-15T10:30:00Z");

    auto agg = read(R"({"Aggregation":{"function":"Count","collection":{"Variable":"flows"},
                        "field":null,"filter":null}})");
    ASSERT_TRUE(agg.ok());
    EXPECT_EQ(expression_text(*agg), "COUNT(flows)");

    auto comp = read(R"({"AggregationComprehension":{"function":{"Avg":null},"variable":"f",
        "collection":{"Variable":"flows"},"window":{"duration":7,"unit":"weeks"},
        "predicate":{"Literal":true},"projection":{"MemberAccess":{"object":"f","member":"q"}},
        "target_unit":"kg"}})");
    ASSERT_TRUE(comp.ok()) << comp.error().to_string();
    EXPECT_EQ(expression_text(*comp), "AVG(f in flows OVER LAST 7 \"weeks\": f.q AS \"kg\")");

    auto lit = read(R"({"Literal":{"b":1,"a":[1.5,-2],"b":2}})");
    ASSERT_TRUE(lit.ok());
    EXPECT_EQ(expression_text(*lit), R"({"a":[1.5,-2],"b":2})");
}

struct FormError {
    std::string input;
    std::string message;
};

class PolicyFormErrors : public ::testing::TestWithParam<FormError> {};

TEST_P(PolicyFormErrors, Message) {
    auto e = read(GetParam().input);
    ASSERT_FALSE(e.ok());
    EXPECT_EQ(e.error().to_string(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PolicyFormErrors,
    ::testing::Values(
        FormError{R"({"Binary":{"op":"And","left":{"Variable":"a"}}})",
                  "missing field `right` at line 1 column 46"},
        FormError{R"({"Binary":["And",{"Variable":"a"}]})",
                  "invalid length 2, expected struct variant Expression::Binary with 3 elements "
                  "at line 1 column 34"},
        FormError{R"("Variable")", "invalid type: unit variant, expected newtype variant"},
        FormError{R"("Binary")", "invalid type: unit variant, expected struct variant"},
        FormError{R"("Nope")",
                  "unknown variant `Nope`, expected one of `Literal`, `QuantityLiteral`, "
                  "`TimeLiteral`, `IntervalLiteral`, `Variable`, `GroupBy`, `Binary`, `Unary`, "
                  "`Cast`, `Quantifier`, `MemberAccess`, `Aggregation`, "
                  "`AggregationComprehension` at line 1 column 6"},
        FormError{"5", "expected value at line 1 column 1"},
        FormError{"", "EOF while parsing a value at line 1 column 0"},
        FormError{R"({"Binary":{"op":"Xor","left":1,"right":2}})",
                  "unknown variant `Xor`, expected one of `And`, `Or`, `Equal`, `NotEqual`, "
                  "`GreaterThan`, `LessThan`, `GreaterThanOrEqual`, `LessThanOrEqual`, `Plus`, "
                  "`Minus`, `Multiply`, `Divide`, `Contains`, `StartsWith`, `EndsWith`, "
                  "`Matches`, `HasRole`, `Before`, `After`, `During` at line 1 column 21"},
        FormError{R"({"Unary":{"op":"Neg","operand":{"Variable":"a"}}})",
                  "unknown variant `Neg`, expected `Not` or `Negate` at line 1 column 20"},
        FormError{R"({"Binary":5})",
                  "invalid type: integer `5`, expected struct variant Expression::Binary at line 1 "
                  "column 11"},
        FormError{R"({"QuantityLiteral":{"value":true,"unit":"kg"}})",
                  "invalid type: boolean `true`, expected a Decimal type representing a "
                  "fixed-point number at line 1 column 32"},
        FormError{R"({"Variable":"a","x":1})", "expected value at line 1 column 15"}));

TEST(PolicyForm, NestingBudgetCountsTwoLevelsPerExpression) {
    auto nested = [](int depth) {
        std::string s;
        for (int i = 0; i < depth; ++i)
            s += R"({"Unary":{"op":"Not","operand":)";
        s += R"({"Variable":"x"})";
        for (int i = 0; i < depth; ++i)
            s += "}}";
        return s;
    };
    EXPECT_TRUE(read(nested(62)).ok());
    auto deep = read(nested(70));
    ASSERT_FALSE(deep.ok());
    EXPECT_TRUE(deep.error().message() == "recursion limit exceeded") << deep.error().to_string();
}

TEST(SyntaxTreeForm, MembersInDeclarationOrderOptionalOnlyWhenPresent) {
    std::string out;
    json::Writer w(out, 2);
    write_expression_json(w, Expression::aggregation(AggregateFunction::Count, var("flows"),
                                                     std::nullopt, std::nullopt));
    EXPECT_EQ(out, "{\n  \"type\": \"Aggregation\",\n  \"function\": \"Count\",\n"
                   "  \"collection\": {\n    \"type\": \"Variable\",\n    \"name\": \"flows\"\n"
                   "  }\n}");
    out.clear();
    json::Writer c(out);
    write_expression_json(c, Expression(expr::QuantityLiteral{*Decimal::parse("12.50"), "kg"}));
    EXPECT_EQ(out, R"({"type":"QuantityLiteral","value":"12.50","unit":"kg"})");
    out.clear();
    json::Writer c2(out);
    write_expression_json(c2, comprehension(bool_lit(true)));
    EXPECT_EQ(
        out,
        R"({"type":"AggregationComprehension","function":"Sum","variable":"x",)"
        R"("collection":{"type":"Variable","name":"xs"},"window":{"duration":30,"unit":"days"},)"
        R"("predicate":{"type":"Literal","value":true},"projection":{"type":"Variable","name":"x"}})");
}

} // namespace
} // namespace vok
