// Small builders for policy-engine tests: expressions, policies and graphs in a line each.
#pragma once

#include <string>
#include <utility>

#include "decimal/decimal.h"
#include "expression/expression.h"
#include "expression/policy.h"
#include "graph/graph.h"
#include "units/unit_registry.h"

namespace vok::testing {

inline Expression lit(json::Value v) {
    return Expression::literal(std::move(v));
}
inline Expression num(double v) {
    return lit(json::Value::from_f64(v));
}
inline Expression var(std::string name) {
    return Expression::variable(std::move(name));
}
inline Expression member(std::string object, std::string name) {
    return expr::MemberAccess{std::move(object), std::move(name)};
}
inline Expression qty(const char* value, std::string unit) {
    return expr::QuantityLiteral{*Decimal::parse(value), std::move(unit)};
}
inline Expression bin(BinaryOp op, Expression l, Expression r) {
    return Expression::binary(op, std::move(l), std::move(r));
}
inline Expression op_and(Expression l, Expression r) {
    return bin(BinaryOp::And, std::move(l), std::move(r));
}
inline Expression op_or(Expression l, Expression r) {
    return bin(BinaryOp::Or, std::move(l), std::move(r));
}
inline Expression op_not(Expression e) {
    return Expression::unary(UnaryOp::Not, std::move(e));
}
inline Expression quant(Quantifier q, std::string v, Expression collection, Expression cond) {
    return Expression::quantifier(q, std::move(v), std::move(collection), std::move(cond));
}
inline Expression forall(std::string v, Expression collection, Expression cond) {
    return quant(Quantifier::ForAll, std::move(v), std::move(collection), std::move(cond));
}
inline Expression cast(Expression operand, std::string unit) {
    return expr::Cast{Box(std::move(operand)), std::move(unit)};
}
inline Expression count_of(Expression collection, std::optional<Expression> filter = {}) {
    return Expression::aggregation(AggregateFunction::Count, std::move(collection), std::nullopt,
                                   std::move(filter));
}

inline Policy policy_of(Expression e, DeonticModality modality = DeonticModality::Obligation) {
    Policy p = Policy::make("p", "default", std::move(e));
    p.modality = modality;
    return p;
}

// Two entities A and B and a resource Steel in kg; `add_flow` adds flows from A to B.
struct TestGraph {
    Graph graph;
    Uuid a, b, steel;

    TestGraph() {
        Entity ea = Entity::make("A", "default");
        Entity eb = Entity::make("B", "default");
        Resource r = Resource::make("Steel", unit_for_symbol("kg"), "default");
        a = ea.id, b = eb.id, steel = r.id;
        (void)graph.add_entity(std::move(ea));
        (void)graph.add_entity(std::move(eb));
        (void)graph.add_resource(std::move(r));
    }

    void add_flow(const char* quantity, json::Object attributes = {}) {
        Flow f = Flow::make(steel, a, b, *Decimal::parse(quantity));
        f.attributes = std::move(attributes);
        (void)graph.add_flow(std::move(f));
    }
};

} // namespace vok::testing
