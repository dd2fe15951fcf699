// Fuzzes policy evaluation over a graph against its reference: the input's bytes choose a small
// graph (entities, resources in the built-in units, flows, resource instances, relations,
// patterns, attributes of every JSON kind, quantities up to the decimal's limits) and a policy
// (quantifiers, group-by, aggregations, comprehensions, casts, arithmetic, comparisons across
// units, string and time operators), and the policy is evaluated in both logics by the production
// road (one fused pass) and by the two-phase reference (expand the whole tree, then evaluate).
// The two must give the same truth, the same violations or the same error text.
//
// An exception escaping either road (a broken invariant, such as an overflowing unit
// conversion) is not caught: it is a panic at the Python boundary, and a finding here.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decimal/decimal.h"
#include "expression/expression.h"
#include "expression/expression_text.h"
#include "expression/policy.h"
#include "fuzz_choices.h"
#include "graph/graph.h"
#include "policy/policy_evaluation.h"
#include "policy/two_phase_oracle.h"
#include "time/rfc3339.h"
#include "units/unit_registry.h"

namespace {

using namespace vok;
using fuzzing::broken;
using fuzzing::Choices;

const char* const kUnits[] = {"kg",  "g", "lb", "m",  "cm",    "USD",
                              "EUR", "s", "h",  "ns", "units", "zz"};
const char* const kAmounts[] = {"10",
                                "5000",
                                "2.5",
                                "0",
                                "1",
                                "-3",
                                "79228162514264337593543950335",
                                "0.0000000000000000000000000001",
                                "1000000000000"};

Expression lit(json::Value v) {
    return Expression::literal(std::move(v));
}
Expression var(std::string name) {
    return Expression::variable(std::move(name));
}
Expression bin(BinaryOp op, Expression l, Expression r) {
    return Expression::binary(op, std::move(l), std::move(r));
}

class Generator {
public:
    explicit Generator(Choices& c) : c_(c) {}

    std::string unit() { return kUnits[c_.pick(std::size(kUnits))]; }
    Decimal amount() { return *Decimal::parse(kAmounts[c_.pick(std::size(kAmounts))]); }

    json::Value scalar() {
        switch (c_.pick(14)) {
        case 0:
            return json::Value::from_u64(c_.pick(12));
        case 1:
            return json::Value("abc");
        case 2:
            return json::Value(c_.chance(50));
        case 3:
            return json::Value::from_f64(double(c_.pick(40)) / 4.0);
        case 4:
            return json::Value();
        case 5:
            return json::Value("12.5");
        case 6:
            return json::Value(kAmounts[c_.pick(std::size(kAmounts))]);
        case 7:
            return json::Value("A");
        case 8:
            return json::Value::from_u64(UINT64_MAX);
        case 9:
            return json::Value::from_f64(c_.chance(50) ? 1e300 : -1e-300);
        case 10:
            return json::Value::from_i64(-7);
        case 11:
            return json::Value(json::Array{json::Value::from_u64(1), json::Value("abc")});
        case 12:
            return json::Value(json::Object::from_entries({{"k", json::Value::from_u64(2)}}));
        default:
            return json::Value(std::to_string(c_.pick(5)));
        }
    }

    json::Object attributes() {
        std::vector<json::Object::Entry> entries;
        if (c_.chance(70)) entries.emplace_back("k", scalar());
        if (c_.chance(30)) entries.emplace_back("name", scalar());
        if (c_.chance(30)) {
            // Ages away from any whole window, so that the moment of evaluation cannot matter.
            UtcInstant then = now_utc();
            then.seconds -= c_.chance(50) ? 3000 : 30 * 86400 + 1000;
            entries.emplace_back("timestamp",
                                 c_.chance(80) ? json::Value(format_rfc3339(then)) : scalar());
        }
        if (c_.chance(20)) entries.emplace_back("quantity", scalar());
        return json::Object::from_entries(std::move(entries));
    }

    Graph graph() {
        Graph g;
        std::vector<Uuid> entities;
        const size_t n_entities = c_.pick(4);
        for (size_t i = 0; i < n_entities; ++i) {
            Entity e = Entity::make(i == 0 ? "A" : "E" + std::to_string(i), "default");
            e.attributes = attributes();
            entities.push_back(e.id);
            (void)g.add_entity(std::move(e));
        }
        Role role = Role::make("Buyer", "default");
        const Uuid role_id = role.id;
        (void)g.add_role(std::move(role));
        std::vector<Uuid> resources;
        const size_t n_resources = 1 + c_.pick(2);
        for (size_t i = 0; i < n_resources; ++i) {
            std::string symbol = unit();
            if (symbol == "zz") symbol = "kg";
            Resource r =
                Resource::make(i == 0 ? "Steel" : "Cash", unit_for_symbol(symbol), "default");
            if (c_.chance(20)) r.attributes = attributes();
            resources.push_back(r.id);
            (void)g.add_resource(std::move(r));
        }
        if (!entities.empty()) {
            const size_t n_flows = c_.pick(5);
            for (size_t i = 0; i < n_flows; ++i) {
                Flow f = Flow::make(resources[c_.pick(resources.size())],
                                    entities[c_.pick(entities.size())],
                                    entities[c_.pick(entities.size())], amount());
                f.attributes = attributes();
                (void)g.add_flow(std::move(f));
            }
            if (c_.chance(50)) {
                ResourceInstance ri = ResourceInstance::make(resources[0], entities[0], "default");
                ri.attributes = attributes();
                (void)g.add_instance(std::move(ri));
            }
        }
        if (c_.chance(50))
            (void)g.add_relation(
                Relation::make("buys", "default", role_id, "buys", Uuid(), std::nullopt));
        if (c_.chance(60)) (void)g.add_pattern(*Pattern::make("P", "default", "^a"));
        return g;
    }

    std::string variable_name() { return c_.word({"f", "g", "flow", "item"}); }

    std::string bound() {
        if (scope_.empty()) return "f";
        return scope_[c_.pick(scope_.size())];
    }

    Expression count_of(Expression collection) {
        return Expression::aggregation(AggregateFunction::Count, std::move(collection),
                                       std::nullopt, std::nullopt);
    }

    Expression collection(int depth) {
        switch (c_.pick(12)) {
        case 0:
        case 1:
        case 2:
            return var("flows");
        case 3:
            return var("entities");
        case 4:
            return var(c_.chance(50) ? "relations" : "instances");
        case 5:
            return var("resources");
        case 6:
            return lit(json::Value(json::Array()));
        case 7: {
            json::Array items;
            const size_t n = c_.pick(3);
            for (size_t i = 0; i < n; ++i)
                items.emplace_back(json::Object::from_entries(
                    {{"k", scalar()}, {"quantity", scalar()}, {"name", scalar()}}));
            return lit(json::Value(std::move(items)));
        }
        case 8:
            return var(bound());
        case 9:
            return var(c_.chance(50) ? "Flows" : "roles");
        case 10:
            return depth > 0 ? count_of(var("flows")) : var("flows");
        default:
            return var("flows");
        }
    }

    Expression field_of_bound() {
        const std::string v = bound();
        const std::string key = c_.word({"k", "quantity", "name", "id", "missing", "timestamp",
                                         "roles", "from_entity", "resource", "entity", "unit"});
        if (c_.chance(50)) return expr::MemberAccess{v, key};
        return var(v + "." + key);
    }

    Expression quantity() { return expr::QuantityLiteral{amount(), unit()}; }

    Expression value(int depth) {
        switch (c_.pick(depth > 0 ? 16 : 8)) {
        case 0:
        case 1:
            return lit(scalar());
        case 2:
        case 3:
        case 4:
            return field_of_bound();
        case 5:
            return quantity();
        case 6:
            return c_.chance(50) ? Expression(expr::MemberAccess{"A", c_.word({"k", "name"})})
                                 : Expression(expr::TimeLiteral{"2020-01-01T00:00:00Z"});
        case 7:
            return var(c_.chance(80) ? bound() : "zz");
        case 8:
            return expr::Cast{Box(c_.chance(60) ? field_of_bound() : value(depth - 1)), unit()};
        case 9: {
            const AggregateFunction f = c_.pick_of(
                {AggregateFunction::Count, AggregateFunction::Sum, AggregateFunction::Min,
                 AggregateFunction::Max, AggregateFunction::Avg});
            std::optional<Expression> filter;
            if (c_.chance(60))
                filter = with_bound(c_.chance(50) ? "flow" : "item",
                                    [&] { return condition(depth - 1); });
            std::optional<std::string> field;
            if (f != AggregateFunction::Count || c_.chance(30))
                field = c_.word({"k", "quantity", "name"});
            if (c_.chance(10)) field.reset();
            return Expression::aggregation(f, collection(depth - 1), field, std::move(filter));
        }
        case 10: {
            const std::string v = variable_name();
            Expression coll = collection(depth - 1);
            Expression predicate = with_bound(v, [&] { return condition(depth - 1); });
            Expression projection = with_bound(v, [&] {
                return c_.chance(30) ? Expression(expr::Cast{Box(field_of_bound()), unit()})
                                     : field_of_bound();
            });
            std::optional<WindowSpec> window;
            if (c_.chance(20))
                window = WindowSpec{c_.pick_of<uint64_t>({0, 1, 2, UINT64_MAX}),
                                    c_.word({"Days", "hours", "minutes", "weeks", "zz"})};
            std::optional<std::string> target;
            if (c_.chance(25)) target = unit();
            const AggregateFunction f = c_.pick_of(
                {AggregateFunction::Count, AggregateFunction::Sum, AggregateFunction::Max,
                 AggregateFunction::Min, AggregateFunction::Avg});
            return expr::AggregationComprehension{f,
                                                  v,
                                                  Box(std::move(coll)),
                                                  window,
                                                  Box(std::move(predicate)),
                                                  Box(std::move(projection)),
                                                  target};
        }
        case 11:
            return condition(depth - 1);
        case 12:
        case 13: {
            const BinaryOp op =
                c_.pick_of({BinaryOp::Plus, BinaryOp::Minus, BinaryOp::Multiply, BinaryOp::Divide});
            return bin(op, value(depth - 1), value(depth - 1));
        }
        case 14:
            return Expression::unary(UnaryOp::Negate, value(depth - 1));
        default:
            return quantity();
        }
    }

    template <class F> Expression with_bound(const std::string& name, F&& make) {
        scope_.push_back(name);
        Expression e = make();
        scope_.pop_back();
        return e;
    }

    Expression condition(int depth) {
        switch (c_.pick(depth > 0 ? 12 : 5)) {
        case 0:
            return lit(c_.chance(70) ? json::Value(c_.chance(50)) : scalar());
        case 1:
        case 2: {
            const BinaryOp op = c_.pick_of(
                {BinaryOp::Equal, BinaryOp::NotEqual, BinaryOp::GreaterThan, BinaryOp::LessThan,
                 BinaryOp::GreaterThanOrEqual, BinaryOp::LessThanOrEqual, BinaryOp::Contains,
                 BinaryOp::StartsWith, BinaryOp::EndsWith, BinaryOp::Matches, BinaryOp::HasRole,
                 BinaryOp::Before, BinaryOp::After, BinaryOp::During, BinaryOp::Minus});
            if (op == BinaryOp::Matches && c_.chance(70))
                return bin(op, value(depth - 1), lit(json::Value(c_.chance(70) ? "P" : "Q")));
            if (op == BinaryOp::HasRole)
                return bin(op, value(depth - 1), lit(json::Value("Buyer")));
            if (op == BinaryOp::During && c_.chance(50))
                return bin(op, value(depth - 1),
                           expr::IntervalLiteral{"2019-01-01T00:00:00Z", "2021-01-01T00:00:00Z"});
            return bin(op, value(depth - 1), value(depth - 1));
        }
        case 3:
            return field_of_bound();
        case 4:
            return c_.chance(50) ? Expression(expr::MemberAccess{"Nobody", "x"})
                                 : var(c_.chance(50) ? "zz" : bound());
        case 5:
        case 6:
            return bin(c_.chance(50) ? BinaryOp::And : BinaryOp::Or, condition(depth - 1),
                       condition(depth - 1));
        case 7:
            return Expression::unary(c_.chance(85) ? UnaryOp::Not : UnaryOp::Negate,
                                     condition(depth - 1));
        case 8:
        case 9:
        case 10: {
            const Quantifier q =
                c_.pick_of({Quantifier::ForAll, Quantifier::Exists, Quantifier::ExistsUnique});
            const std::string v = variable_name();
            Expression coll = collection(depth - 1);
            Expression cond = with_bound(v, [&] { return condition(depth - 1); });
            return Expression::quantifier(q, v, std::move(coll), std::move(cond));
        }
        default: {
            const std::string v = variable_name();
            Expression coll = collection(depth - 1);
            OptBox filter;
            if (c_.chance(40)) filter = Box(with_bound(v, [&] { return condition(depth - 1); }));
            Expression key = with_bound(v, [&] { return value(depth - 1); });
            Expression cond = with_bound(v, [&] {
                return c_.chance(50) ? bin(BinaryOp::GreaterThan, count_of(var(v)),
                                           lit(json::Value::from_f64(1)))
                                     : condition(depth - 1);
            });
            return expr::GroupBy{v, Box(std::move(coll)), std::move(filter), Box(std::move(key)),
                                 Box(std::move(cond))};
        }
        }
    }

private:
    Choices& c_;
    std::vector<std::string> scope_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Choices c(data, size);
    Generator gen(c);
    Graph graph = gen.graph();
    const int depth = 1 + int(c.pick(4));
    Policy policy = Policy::make("p", "default", gen.condition(depth));
    policy.modality = c.pick_of(
        {DeonticModality::Obligation, DeonticModality::Prohibition, DeonticModality::Permission});
    const std::string shown = expression_text(policy.expression);
    for (bool three_valued : {true, false}) {
        graph.set_use_three_valued_logic(three_valued);
        const std::string context = (three_valued ? "three-valued: " : "two-valued: ") + shown;
        const std::string fused = fuzzing::reporting_exceptions(
            context, [&] { return testing::describe(evaluate_policy(graph, policy)); });
        const std::string reference = fuzzing::reporting_exceptions(context, [&] {
            return testing::describe(testing::two_phase_evaluate_policy(graph, policy));
        });
        if (fused != reference)
            broken(three_valued ? "fused and two-phase evaluation differ in three-valued logic"
                                : "fused and two-phase evaluation differ in two-valued logic",
                   shown, "fused:     " + fused + "\ntwo-phase: " + reference);
    }
    return 0;
}
