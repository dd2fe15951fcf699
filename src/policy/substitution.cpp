// Binding a quantifier's variable to one item by rewriting the expression; the definitions behind
// substitution.h.
#include "policy/substitution.h"

#include <utility>

#include "common/deep_recursion.h"
#include "policy/runtime_value.h"

namespace vok {

namespace {

struct Substituter {
    std::string_view name;
    const json::Value& item;

    std::optional<json::Value> field(std::string_view key) const {
        if (const json::Value* v = item.get(key)) return *v;
        return std::nullopt;
    }

    Box box(const Box& b) const {
        return Box(with_stack_room([&] { return apply(*b); }));
    }
    OptBox box(const OptBox& b) const {
        if (!b) return std::nullopt;
        return box(*b);
    }

    // Leaves hold no variable to bind. Declared before `apply`: clang does not instantiate a
    // member template that a generic lambda names before the template's declaration, and the
    // link then fails.
    template <class Leaf> Expression rewrite(const Expression& e, const Leaf&) const { return e; }

    Expression apply(const Expression& e) const {
        return std::visit([&](const auto& n) -> Expression { return rewrite(e, n); }, e.node());
    }

    Expression rewrite(const Expression&, const expr::Variable& v) const {
        if (v.name == name) return Expression::literal(item);
        if (auto value =
                bound_reference(v.name, name, [&](std::string_view k) { return field(k); }))
            return Expression::literal(std::move(*value));
        return v;
    }
    Expression rewrite(const Expression&, const expr::MemberAccess& m) const {
        if (m.object != name) return m;
        auto value = field(m.member);
        return Expression::literal(value ? std::move(*value) : json::Value());
    }
    Expression rewrite(const Expression&, const expr::Binary& b) const {
        return expr::Binary{b.op, box(b.left), box(b.right)};
    }
    Expression rewrite(const Expression&, const expr::Unary& u) const {
        return expr::Unary{u.op, box(u.operand)};
    }
    Expression rewrite(const Expression&, const expr::Quantifier& q) const {
        if (q.variable == name)
            return expr::Quantifier{q.quantifier, q.variable, box(q.collection), q.condition};
        return expr::Quantifier{q.quantifier, q.variable, box(q.collection), box(q.condition)};
    }
    Expression rewrite(const Expression&, const expr::GroupBy& g) const {
        if (g.variable == name)
            return expr::GroupBy{g.variable, box(g.collection), g.filter, g.key, g.condition};
        return expr::GroupBy{g.variable, box(g.collection), box(g.filter), box(g.key),
                             box(g.condition)};
    }
    Expression rewrite(const Expression&, const expr::Aggregation& a) const {
        return expr::Aggregation{a.function, box(a.collection), a.field, box(a.filter)};
    }
    Expression rewrite(const Expression&, const expr::AggregationComprehension& c) const {
        return expr::AggregationComprehension{c.function,   c.variable,       box(c.collection),
                                              c.window,     box(c.predicate), box(c.projection),
                                              c.target_unit};
    }
    Expression rewrite(const Expression&, const expr::Cast& c) const {
        bool was_literal = c.operand->kind() == ExpressionKind::Literal;
        Box operand = box(c.operand);
        if (!was_literal) {
            if (auto* literal = operand->get_if<expr::Literal>())
                return fold_bound_cast(std::move(literal->value), c.target_type);
        }
        return expr::Cast{std::move(operand), c.target_type};
    }
};

} // namespace

Expression fold_bound_cast(json::Value operand, const std::string& target_type) {
    auto cast = cast_quantity(operand, target_type);
    if (cast.ok()) return expr::QuantityLiteral{cast->value, std::move(*cast->unit)};
    return expr::Cast{Box(Expression::literal(std::move(operand))), target_type};
}

Expression substitute_variable(const Expression& expression, std::string_view name,
                               const json::Value& item) {
    return Substituter{name, item}.apply(expression);
}

} // namespace vok
