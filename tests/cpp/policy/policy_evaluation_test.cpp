// The evaluation road end to end. Every case runs through the production road and through the
// literal two-phase oracle, which must agree with it and with the expected outcome.
#include <gtest/gtest.h>

#include "expression/expression_text.h"
#include "policy/aggregation.h"
#include "policy/policy_evaluation.h"
#include "policy/runtime_value.h"
#include "policy_builders.h"
#include "two_phase_oracle.h"
#include "json/writer.h"

namespace vok::testing {
namespace {

std::string run(const Graph& graph, const Expression& e,
                DeonticModality modality = DeonticModality::Obligation) {
    Policy policy = policy_of(e, modality);
    std::string fused = describe_outcome([&] { return evaluate_policy(graph, policy); });
    std::string oracle = describe_outcome([&] { return two_phase_evaluate_policy(graph, policy); });
    EXPECT_EQ(fused, oracle) << "production and oracle disagree";
    return fused;
}

constexpr const char* kMaxDecimal = "79228162514264337593543950335";

constexpr const char* kTrue = "true";
constexpr const char* kFalse = "false | p / Policy 'p' was violated / Error";
constexpr const char* kUnknown = "unknown | p / Policy 'p' evaluation is UNKNOWN (NULL) / Error";

std::string error(const std::string& text) {
    return "error: " + text;
}

const std::string kAggregationMessage =
    "Aggregation in boolean context requires explicit comparison (e.g., COUNT(...) > 0)";

Graph empty_graph(bool three_valued) {
    Graph g;
    g.set_use_three_valued_logic(three_valued);
    return g;
}

TEST(PolicyEvaluation, QuantifiersOverEmptyCollections) {
    Graph g;
    Expression empty = lit(json::Value(json::Array()));
    EXPECT_EQ(run(g, forall("x", empty, lit(false))), kTrue);
    EXPECT_EQ(run(g, quant(Quantifier::Exists, "x", empty, lit(true))), kFalse);
    EXPECT_EQ(run(g, quant(Quantifier::ExistsUnique, "x", empty, lit(true))), kFalse);
    EXPECT_EQ(run(g, forall("x", var("Flows"), lit(true))), error("Unknown collection: Flows"));
    EXPECT_EQ(run(g, forall("x", var("roles"), lit(true))), error("Unknown collection: roles"));
}

TEST(PolicyEvaluation, AggregationsWhereATruthValueIsNeeded) {
    TestGraph t;
    t.add_flow("3");
    const Graph& g = t.graph;
    EXPECT_EQ(run(g, count_of(var("flows"))), error(kAggregationMessage));
    EXPECT_EQ(run(g, op_not(count_of(var("flows")))), error(kAggregationMessage));
    EXPECT_EQ(run(g, op_and(lit(true), count_of(var("flows")))), error(kAggregationMessage));
    EXPECT_EQ(run(g, forall("f", var("flows"), count_of(var("flows")))),
              error(kAggregationMessage));
    EXPECT_EQ(run(g, bin(BinaryOp::GreaterThan, count_of(var("flows")), num(0))), kTrue);
    // In a collection the check passes; expansion then refuses the collection itself.
    EXPECT_TRUE(
        check_aggregation_in_boolean_context(forall("x", count_of(var("flows")), lit(true)), true)
            .ok());
    EXPECT_EQ(run(g, forall("x", count_of(var("flows")), lit(true))),
              error("Collection expression must be a variable or array literal"));
}

TEST(PolicyEvaluation, KleeneConnectivesAndFolding) {
    TestGraph t;
    const Graph& g = t.graph;
    Expression unknown = member("Nobody", "x"); // not a literal, resolves to null
    EXPECT_EQ(run(g, op_and(lit(false), unknown)), kFalse);
    EXPECT_EQ(run(g, op_or(lit(true), unknown)), kTrue);
    EXPECT_EQ(run(g, op_and(lit(true), unknown)), kUnknown);
    EXPECT_EQ(run(g, op_and(lit(false), var("x"))),
              error("Cannot evaluate unexpanded variable: x"));
    // Two literals fold during expansion, where null absorbs everything.
    EXPECT_EQ(run(g, op_and(lit(false), lit(nullptr))), kUnknown);
    EXPECT_EQ(run(g, op_and(lit(false), lit("abc"))), error("Right operand is not boolean"));
    EXPECT_EQ(run(g, bin(BinaryOp::GreaterThan, lit("abc"), num(5))),
              error("Left operand is not numeric"));
}

TEST(PolicyEvaluation, MissingAttributeInBothLogics) {
    TestGraph t;
    EXPECT_EQ(run(t.graph, member("A", "missing")), kUnknown);
    t.graph.set_use_three_valued_logic(false);
    EXPECT_EQ(run(t.graph, member("A", "missing")), kFalse);
}

TEST(PolicyEvaluation, QuantitiesCompareAcrossUnits) {
    for (bool three : {true, false}) {
        Graph g = empty_graph(three);
        EXPECT_EQ(run(g, bin(BinaryOp::GreaterThan, qty("10", "kg"), qty("5000", "g"))), kTrue);
        EXPECT_EQ(run(g, bin(BinaryOp::GreaterThan, qty("10", "kg"), num(5))),
                  three ? kUnknown
                        : error("Cannot compare quantity with unit 'kg' to unitless value"));
        EXPECT_EQ(run(g, bin(BinaryOp::LessThan, qty("1", "kg"), qty("1", "m"))),
                  three ? kUnknown
                        : error("Unit conversion failed: Cannot convert between Length and Mass"));
    }
}

TEST(PolicyEvaluation, SeverityFollowsModality) {
    Graph g;
    EXPECT_EQ(run(g, lit(false), DeonticModality::Permission),
              "false | p / Policy 'p' was violated / Info");
    EXPECT_EQ(run(g, lit(false), DeonticModality::Prohibition), kFalse);
    EXPECT_EQ(run(g, lit(true), DeonticModality::Permission), kTrue);
}

TEST(PolicyEvaluation, UnknownPatternFailsInBothLogics) {
    for (bool three : {true, false}) {
        Graph g = empty_graph(three);
        EXPECT_EQ(run(g, bin(BinaryOp::Matches, lit("abc"), lit("Code"))),
                  error("Pattern 'Code' not found in namespace 'default'"));
    }
    Graph g;
    (void)g.add_pattern(*Pattern::make("Code", "default", "^[a-c]+$"));
    EXPECT_EQ(run(g, bin(BinaryOp::Matches, lit("abc"), lit("Code"))), kTrue);
}

TEST(PolicyEvaluation, CastsOverBoundVariables) {
    TestGraph t;
    t.add_flow("10");
    t.add_flow("7");
    Expression cond =
        bin(BinaryOp::GreaterThan, cast(member("f", "quantity"), "kg"), qty("5", "kg"));
    EXPECT_EQ(run(t.graph, forall("f", var("flows"), cond)), kTrue);
    t.graph.set_use_three_valued_logic(false);
    EXPECT_EQ(run(t.graph, forall("f", var("flows"), cond)), kTrue);
    // A cast of a bound value that cannot be cast stays a cast and fails like one.
    Expression by_name = bin(BinaryOp::GreaterThan, cast(member("f", "id"), "kg"), qty("5", "kg"));
    std::string failed = run(t.graph, forall("f", var("flows"), by_name));
    EXPECT_EQ(failed.rfind("error: Invalid cast operand: ", 0), 0u) << failed;
}

TEST(PolicyEvaluation, ExpansionErrorsOutrankEarlierEvaluationErrors) {
    TestGraph t;
    t.add_flow("1");
    // The left side fails only when evaluated; the right side fails while expanding.
    Expression left = forall("f", var("flows"), var("unbound"));
    Expression right = forall("g", var("Flows"), lit(true));
    EXPECT_EQ(run(t.graph, op_and(left, right)), error("Unknown collection: Flows"));
    // So is an evaluation error in two-valued logic.
    t.graph.set_use_three_valued_logic(false);
    Expression overflow = bin(BinaryOp::GreaterThan, qty("1", "g"), qty(kMaxDecimal, "kg"));
    EXPECT_EQ(run(t.graph, op_and(overflow, right)), error("Unknown collection: Flows"));
    EXPECT_EQ(run(t.graph, op_and(overflow, lit(nullptr))),
              error("Unit conversion failed: Division overflowed"));
}

// A value too large for the unit it is converted into: Unknown where three-valued logic turns a
// failed conversion into Unknown, an error naming the failed step wherever conversion errors are
// reported. Nothing may end as a broken invariant, whatever the numbers.
TEST(PolicyEvaluation, ConversionOverflowIsAFailedConversion) {
    const std::string divided = "Unit conversion failed: Division overflowed";
    const std::string multiplied = "Unit conversion failed: Multiplication overflowed";
    // 1 g against the largest decimal in kg divides by 0.001; the largest decimal in minutes
    // multiplies by 60 on its way to seconds.
    Expression grams = bin(BinaryOp::Equal, qty("1", "g"), qty(kMaxDecimal, "kg"));
    Expression seconds = bin(BinaryOp::LessThan, qty("1", "s"), qty(kMaxDecimal, "min"));
    Expression cast_alone = cast(qty(kMaxDecimal, "min"), "s");
    Expression cast_compared = bin(BinaryOp::GreaterThan, cast_alone, qty("1", "s"));
    struct Case {
        Expression expression;
        std::string three_valued;
        std::string two_valued;
    };
    const Case cases[] = {
        // Equality without a common unit compares the quantity objects as JSON, in both logics,
        // as it does for units of different dimensions.
        {grams, kFalse, kFalse},
        {bin(BinaryOp::NotEqual, qty("1", "g"), qty(kMaxDecimal, "kg")), kTrue, kTrue},
        {bin(BinaryOp::Equal, qty("1", "kg"), qty("1", "m")), kFalse, kFalse},
        {bin(BinaryOp::GreaterThan, qty("1", "g"), qty(kMaxDecimal, "kg")), kUnknown,
         error(divided)},
        {seconds, kUnknown, error(multiplied)},
        {op_not(seconds), kUnknown, error(multiplied)},
        {cast_alone, error(multiplied), error(multiplied)},
        {cast_compared, kUnknown, error(multiplied)},
        // The operand order decides which side is converted: here 1 g becomes kilograms.
        {bin(BinaryOp::LessThan, qty(kMaxDecimal, "kg"), qty("1", "g")), kFalse, kFalse},
    };
    for (const Case& c : cases) {
        for (bool three : {true, false}) {
            Graph g = empty_graph(three);
            EXPECT_EQ(run(g, c.expression), three ? c.three_valued : c.two_valued)
                << expression_text(c.expression) << (three ? " (three-valued)" : " (two-valued)");
        }
    }

    // A comprehension converting its values into a target unit reports the failed step too.
    TestGraph t;
    t.add_flow("1");
    expr::AggregationComprehension sum{AggregateFunction::Sum, "f",
                                       Box(var("flows")),      std::nullopt,
                                       Box(lit(true)),         Box(qty(kMaxDecimal, "min")),
                                       std::string("s")};
    EXPECT_EQ(expand_aggregation_comprehension(sum, t.graph).error().to_string(), multiplied);
    EXPECT_EQ(run(t.graph, bin(BinaryOp::GreaterThan, Expression(sum), num(0))), error(multiplied));
}

TEST(PolicyEvaluation, EveryItemIsEvaluatedInOrder) {
    TestGraph t;
    t.add_flow("1", json::Object::from_entries({{"k", json::Value("abc")}}));
    t.add_flow("2", json::Object::from_entries({{"k", json::Value::from_u64(3)}}));
    t.graph.set_use_three_valued_logic(false);
    // The first item is already false, yet the second item's error is reported.
    Expression cond = op_and(bin(BinaryOp::GreaterThan, member("f", "quantity"), num(1.5)),
                             bin(BinaryOp::Contains, member("f", "k"), member("Nobody", "y")));
    EXPECT_EQ(run(t.graph, forall("f", var("flows"), cond)), error("Expected string value"));
}

TEST(PolicyEvaluation, LargeCollectionsNeedNoStackPerItem) {
    TestGraph t;
    for (int i = 0; i < 60000; ++i)
        t.add_flow(i % 2 ? "3" : "8");
    Expression cond = bin(BinaryOp::GreaterThan, member("f", "quantity"), num(1));
    Policy policy = policy_of(forall("f", var("flows"), cond));
    auto result = evaluate_policy(t.graph, policy);
    ASSERT_TRUE(result.ok()) << result.error().to_string();
    EXPECT_TRUE(result->is_satisfied);
}

TEST(PolicyEvaluation, IdComparisonsBetweenBoundRecords) {
    TestGraph t;
    t.add_flow("1"); // from A to B
    auto exists_flow = [](Expression cond) {
        return forall("e", var("entities"),
                      quant(Quantifier::Exists, "f", var("flows"), std::move(cond)));
    };
    Expression from = bin(BinaryOp::Equal, member("f", "from_entity"), member("e", "id"));
    Expression to = bin(BinaryOp::Equal, var("f.to_entity"), var("e.id"));
    EXPECT_EQ(run(t.graph, exists_flow(from)), kFalse); // B sends nothing
    EXPECT_EQ(run(t.graph, exists_flow(op_or(from, to))), kTrue);
    EXPECT_EQ(run(t.graph,
                  exists_flow(bin(BinaryOp::NotEqual, member("f", "resource"), member("e", "id")))),
              kTrue);
    // Under ExistsUnique only conditions that fold to true count; a nested Exists over a
    // non-empty collection is a chain, so nothing counts.
    EXPECT_EQ(run(t.graph, quant(Quantifier::ExistsUnique, "e", var("entities"),
                                 quant(Quantifier::Exists, "f", var("flows"), from))),
              kFalse);
    EXPECT_EQ(run(t.graph, quant(Quantifier::ExistsUnique, "e", var("entities"),
                                 bin(BinaryOp::Equal, var("e.id"), lit(t.a.to_string())))),
              kTrue);
}

TEST(PolicyEvaluation, AggregationsDoNotShadowOuterVariables) {
    TestGraph t;
    for (const char* q : {"1", "2", "3"})
        t.add_flow(q);
    // The filter's `flow` is the outer quantifier's item, not the aggregation's own.
    Expression filter = bin(BinaryOp::GreaterThanOrEqual, member("flow", "quantity"), num(2));
    Expression counted = bin(BinaryOp::GreaterThan, count_of(var("flows"), filter), num(0));
    EXPECT_EQ(run(t.graph, forall("flow", var("flows"), counted)), kFalse);
    // Likewise a comprehension of the same name: for the first flow nothing is projected.
    Expression sum = expr::AggregationComprehension{
        AggregateFunction::Sum,
        "x",
        Box(var("flows")),
        std::nullopt,
        Box(bin(BinaryOp::GreaterThanOrEqual, member("x", "quantity"), num(2))),
        Box(member("x", "quantity")),
        std::nullopt};
    EXPECT_EQ(run(t.graph, forall("x", var("flows"), bin(BinaryOp::GreaterThan, sum, num(0)))),
              kUnknown);
}

TEST(PolicyEvaluation, TwoValuedEqualityComparesNumbersByValue) {
    using json::Value;
    auto object = [](std::vector<json::Object::Entry> entries) {
        return Value(json::Object::from_entries(std::move(entries)));
    };
    auto array = [](std::vector<Value> items) { return Value(json::Array(std::move(items))); };
    const Value nested_ints = array({Value::from_u64(1), object({{"k", Value::from_i64(-2)}})});
    const Value nested_floats = array({Value::from_f64(1), object({{"k", Value::from_f64(-2)}})});
    const Value two_53 = Value::from_f64(9007199254740992.0);
    struct Case {
        Value attribute; // integers as Python hands them over
        Value literal;   // the policy's side
        bool equal;
    };
    const Case cases[] = {
        {Value::from_u64(5), Value::from_f64(5), true},
        {Value::from_u64(0), Value::from_f64(-0.0), true},
        {Value::from_i64(-3), Value::from_f64(-3), true},
        {Value::from_i64(INT64_MIN), Value::from_f64(-0x1p63), true},
        {Value::from_u64(UINT64_MAX), Value::from_f64(0x1p64), false}, // 2^64 is no u64
        {Value::from_u64(9007199254740993), two_53, false},            // exact, not as doubles
        {Value::from_u64(5), Value::from_f64(5.5), false},
        {Value::from_u64(5), Value("5"), false},
        {nested_ints, nested_floats, true},
        {object({{"a", nested_ints}}), object({{"a", nested_floats}}), true},
        {array({Value::from_u64(1)}), array({Value::from_f64(1), Value::from_f64(1)}), false},
        {object({{"k", Value::from_u64(1)}}), object({{"j", Value::from_f64(1)}}), false},
        {array({Value(true), Value()}), array({Value(true), Value()}), true},
        {array({Value(true)}), array({Value::from_u64(1)}), false},
    };
    for (const Case& c : cases) {
        Graph g = empty_graph(false);
        Entity e = Entity::make("X", "default");
        e.attributes.insert_or_assign("n", c.attribute);
        (void)g.add_entity(std::move(e));
        const std::string shown =
            json::to_compact_string(c.attribute) + " vs " + json::to_compact_string(c.literal);
        EXPECT_EQ(run(g, bin(BinaryOp::Equal, member("X", "n"), lit(c.literal))),
                  c.equal ? kTrue : kFalse)
            << shown;
        EXPECT_EQ(run(g, bin(BinaryOp::NotEqual, lit(c.literal), member("X", "n"))),
                  c.equal ? kFalse : kTrue)
            << shown;
    }
    // Deep values compare without running out of stack.
    Value deep_ints = Value::from_u64(7), deep_floats = Value::from_f64(7);
    for (int i = 0; i < 200000; ++i) {
        Value a, b;
        a.emplace_array().push_back(std::move(deep_ints));
        b.emplace_array().push_back(std::move(deep_floats));
        deep_ints = std::move(a);
        deep_floats = std::move(b);
    }
    EXPECT_TRUE(equal_by_number_value(deep_ints, deep_floats));
}

TEST(Aggregations, SumsFiltersAndWindows) {
    TestGraph t;
    t.add_flow("1", json::Object::from_entries({{"w", json::Value("12.5")}}));
    t.add_flow("2", json::Object::from_entries({{"w", json::Value::from_f64(2.5)}}));
    t.add_flow("3", json::Object::from_entries({{"w", json::Value("abc")}}));
    auto agg = [&](AggregateFunction f, std::optional<Expression> filter) {
        return *expand_aggregation(*Expression::aggregation(f, var("flows"), "w", std::move(filter))
                                        .get_if<expr::Aggregation>(),
                                   t.graph);
    };
    EXPECT_EQ(agg(AggregateFunction::Sum, std::nullopt), json::Value::from_f64(15.0));
    EXPECT_EQ(agg(AggregateFunction::Max, std::nullopt), json::Value::from_f64(12.5));
    Expression none = lit(false);
    EXPECT_EQ(agg(AggregateFunction::Sum, none), json::Value::from_f64(0.0));
    for (auto f : {AggregateFunction::Min, AggregateFunction::Max, AggregateFunction::Avg})
        EXPECT_EQ(agg(f, none), json::Value()) << int(f);
    // A filter that fails for an item drops that item.
    Expression failing = bin(BinaryOp::GreaterThan, member("flow", "w"), num(2));
    EXPECT_EQ(agg(AggregateFunction::Sum, failing), json::Value::from_f64(2.5));

    auto windowed = [&](const char* unit) {
        expr::AggregationComprehension c{AggregateFunction::Count,
                                         "x",
                                         Box(var("flows")),
                                         WindowSpec{2, unit},
                                         Box(lit(true)),
                                         Box(member("x", "quantity")),
                                         std::nullopt};
        return expand_aggregation_comprehension(c, t.graph);
    };
    ASSERT_TRUE(windowed("Hours").ok());
    EXPECT_EQ(*windowed("Hours"), json::Value::from_u64(0)); // no item carries a time
    EXPECT_EQ(windowed("weeks").error().to_string(),
              "Invalid window unit 'weeks' in aggregation window");
}

TEST(Aggregations, ComprehensionProjectsCastQuantities) {
    TestGraph t;
    t.add_flow("1.5");
    t.add_flow("2");
    expr::AggregationComprehension c{
        AggregateFunction::Sum, "f",
        Box(var("flows")),      std::nullopt,
        Box(lit(true)),         Box(cast(member("f", "quantity"), "kg")),
        std::string("g")};
    EXPECT_EQ(*expand_aggregation_comprehension(c, t.graph), json::Value::from_f64(3500.0));
    // The same comprehension compared in a policy, in both logics.
    for (bool three : {true, false}) {
        t.graph.set_use_three_valued_logic(three);
        EXPECT_EQ(run(t.graph, bin(BinaryOp::Equal, Expression(c), num(3500))), kTrue);
    }
}

TEST(Aggregations, OverflowsAreOrderlyErrors) {
    TestGraph t;
    for (int i = 0; i < 2; ++i)
        t.add_flow(
            "1", json::Object::from_entries({{"w", json::Value("79228162514264337593543950335")}}));
    auto sum = Expression::aggregation(AggregateFunction::Sum, var("flows"), "w", std::nullopt);
    EXPECT_EQ(expand_aggregation(*sum.get_if<expr::Aggregation>(), t.graph).error().to_string(),
              "Aggregation result exceeds the decimal range");

    auto windowed = [&](uint64_t duration, const char* unit) {
        expr::AggregationComprehension c{AggregateFunction::Count,
                                         "x",
                                         Box(var("flows")),
                                         WindowSpec{duration, unit},
                                         Box(lit(true)),
                                         Box(member("x", "quantity")),
                                         std::nullopt};
        return expand_aggregation_comprehension(c, t.graph);
    };
    EXPECT_EQ(windowed(UINT64_MAX, "days").error().to_string(),
              "Window duration 18446744073709551615 exceeds supported range");
    EXPECT_EQ(windowed(uint64_t(1) << 62, "days").error().to_string(),
              "Window of 4611686018427387904 days exceeds the supported range of time");
    EXPECT_TRUE(windowed(uint64_t(1) << 40, "seconds").ok());
}

// Numbers the decimal parser refuses, wherever evaluation reads them, fail with the parser's own
// text (behind the reader's prefix, where it has one).
TEST(Aggregations, UnreadableNumbersKeepTheDecimalParserText) {
    auto quantity = [](const char* amount) {
        return json::Value(json::Object::from_entries(
            {{"__quantity_unit", json::Value("kg")}, {"__quantity_value", json::Value(amount)}}));
    };
    EXPECT_EQ(parse_decimal_value(json::Value("1.2.3")).error().to_string(),
              "Invalid decimal: two decimal points");
    EXPECT_EQ(parse_quantity_object(quantity("x")).error().to_string(),
              "Invalid __quantity_value: Invalid decimal: unknown character");
    EXPECT_EQ(decimal_of_float_text(1e300).error().to_string(),
              "Invalid decimal: overflow from too many digits");

    // What a comprehension projects: a numeric string or a quantity object.
    TestGraph t;
    t.add_flow("1");
    const std::pair<json::Value, const char*> projections[] = {
        {json::Value("1.2.3"), "Invalid decimal: two decimal points"},
        {quantity("_1"), "Invalid decimal: must start lead with a number"},
    };
    for (const auto& [projected, text] : projections) {
        expr::AggregationComprehension c{
            AggregateFunction::Sum, "f",         Box(var("flows")), std::nullopt, Box(lit(true)),
            Box(lit(projected)),    std::nullopt};
        EXPECT_EQ(expand_aggregation_comprehension(c, t.graph).error().to_string(), text);
    }
}

} // namespace
} // namespace vok::testing
