// Expansion; the definitions behind expansion.h.
#include "policy/expansion.h"

#include <unordered_map>
#include <utility>
#include <vector>

#include "common/deep_recursion.h"
#include "policy/aggregation.h"
#include "policy/quantifier_items.h"
#include "policy/runtime_value.h"
#include "policy/substitution.h"
#include "json/writer.h"

namespace vok {

namespace {

using Expanded = Result<Expression, PolicyError>;

Expanded expand(const Expression& e, const Graph& graph);

Expanded expand_child(const Expression& e, const Graph& graph) {
    return with_stack_room([&] { return expand(e, graph); });
}

Expanded expand_binary(const expr::Binary& b, const Graph& graph) {
    VOK_ASSIGN(Expression left, expand_child(*b.left, graph));
    VOK_ASSIGN(Expression right, expand_child(*b.right, graph));
    const auto* l = left.get_if<expr::Literal>();
    const auto* r = right.get_if<expr::Literal>();
    if (l != nullptr && r != nullptr) {
        VOK_ASSIGN(std::optional<json::Value> folded, fold_literals(b.op, l->value, r->value));
        if (folded) return Expression::literal(std::move(*folded));
    }
    return Expression::binary(b.op, std::move(left), std::move(right));
}

Expanded expand_quantifier(const expr::Quantifier& q, const Graph& graph) {
    VOK_ASSIGN(std::vector<json::Value> items, resolve_collection(*q.collection, graph));
    if (q.quantifier == Quantifier::ExistsUnique) {
        size_t holding = 0;
        for (const json::Value& item : items) {
            VOK_ASSIGN(Expression c,
                       expand_child(substitute_variable(*q.condition, q.variable, item), graph));
            if (is_literal_true(c)) ++holding;
        }
        return Expression::literal(json::Value(holding == 1));
    }
    const bool for_all = q.quantifier == Quantifier::ForAll;
    Expression chain = Expression::literal(json::Value(for_all));
    if (items.empty()) return chain;
    const BinaryOp op = for_all ? BinaryOp::And : BinaryOp::Or;
    for (const json::Value& item : items) {
        VOK_ASSIGN(Expression c,
                   expand_child(substitute_variable(*q.condition, q.variable, item), graph));
        chain = Expression::binary(op, std::move(chain), std::move(c));
    }
    return chain;
}

Expanded expand_group_by(const expr::GroupBy& g, const Graph& graph) {
    VOK_ASSIGN(std::vector<json::Value> items, resolve_collection(*g.collection, graph));
    std::vector<std::string> order;
    std::unordered_map<std::string, json::Array> groups;
    for (json::Value& item : items) {
        if (g.filter) {
            VOK_ASSIGN(Expression kept,
                       expand_child(substitute_variable(**g.filter, g.variable, item), graph));
            if (!is_literal_true(kept)) continue;
        }
        VOK_ASSIGN(Expression key,
                   expand_child(substitute_variable(*g.key, g.variable, item), graph));
        const auto* literal = key.get_if<expr::Literal>();
        if (literal == nullptr) return Err(PolicyError("Group key must evaluate to a literal"));
        VOK_ASSIGN(std::string text, group_text(literal->value));
        auto [it, added] = groups.try_emplace(text);
        if (added) order.push_back(text);
        it->second.push_back(std::move(item));
    }
    for (const std::string& text : order) {
        json::Value members(std::move(groups[text]));
        VOK_ASSIGN(Expression c,
                   expand_child(substitute_variable(*g.condition, g.variable, members), graph));
        if (!is_literal_true(c)) return Expression::literal(json::Value(false));
    }
    return Expression::literal(json::Value(true));
}

Expanded expand(const Expression& e, const Graph& graph) {
    switch (e.kind()) {
    case ExpressionKind::Unary: {
        const auto& u = *e.get_if<expr::Unary>();
        VOK_ASSIGN(Expression operand, expand_child(*u.operand, graph));
        return Expression::unary(u.op, std::move(operand));
    }
    case ExpressionKind::Binary:
        return expand_binary(*e.get_if<expr::Binary>(), graph);
    case ExpressionKind::Quantifier:
        return expand_quantifier(*e.get_if<expr::Quantifier>(), graph);
    case ExpressionKind::GroupBy:
        return expand_group_by(*e.get_if<expr::GroupBy>(), graph);
    case ExpressionKind::Aggregation: {
        VOK_ASSIGN(json::Value value, expand_aggregation(*e.get_if<expr::Aggregation>(), graph));
        return Expression::literal(std::move(value));
    }
    case ExpressionKind::AggregationComprehension: {
        VOK_ASSIGN(json::Value value, expand_aggregation_comprehension(
                                          *e.get_if<expr::AggregationComprehension>(), graph));
        return Expression::literal(std::move(value));
    }
    default:
        return e;
    }
}

} // namespace

Result<std::optional<json::Value>, PolicyError> fold_literals(BinaryOp op, const json::Value& left,
                                                              const json::Value& right) {
    using Folded = std::optional<json::Value>;
    if (left.is_null() || right.is_null()) return Folded(json::Value());
    switch (op) {
    case BinaryOp::And:
    case BinaryOp::Or:
        if (!left.is_bool()) return Err(PolicyError("Left operand is not boolean"));
        if (!right.is_bool()) return Err(PolicyError("Right operand is not boolean"));
        return Folded(json::Value(op == BinaryOp::And ? left.as_bool() && right.as_bool()
                                                      : left.as_bool() || right.as_bool()));
    case BinaryOp::Equal:
    case BinaryOp::NotEqual: {
        bool equal = (left.is_number() && right.is_number())
                         ? left.as_number().to_f64() == right.as_number().to_f64()
                         : left == right;
        return Folded(json::Value(op == BinaryOp::Equal ? equal : !equal));
    }
    case BinaryOp::GreaterThan:
    case BinaryOp::LessThan:
    case BinaryOp::GreaterThanOrEqual:
    case BinaryOp::LessThanOrEqual: {
        auto l = value_as_f64(left);
        if (!l) return Err(PolicyError("Left operand is not numeric"));
        auto r = value_as_f64(right);
        if (!r) return Err(PolicyError("Right operand is not numeric"));
        bool holds = comparison_holds(op, *l, *r);
        return Folded(json::Value(holds));
    }
    case BinaryOp::Contains:
    case BinaryOp::StartsWith:
    case BinaryOp::EndsWith: {
        if (!left.is_string()) return Err(PolicyError("Left operand is not string"));
        if (!right.is_string()) return Err(PolicyError("Right operand is not string"));
        std::string_view l = left.as_string(), r = right.as_string();
        bool holds = op == BinaryOp::Contains     ? l.find(r) != std::string_view::npos
                     : op == BinaryOp::StartsWith ? l.starts_with(r)
                                                  : l.ends_with(r);
        return Folded(json::Value(holds));
    }
    default:
        return Folded();
    }
}

Result<std::string, PolicyError> group_text(const json::Value& key) {
    switch (key.type()) {
    case json::Value::Type::Null:
        return std::string("null");
    case json::Value::Type::Bool:
        return std::string(key.as_bool() ? "true" : "false");
    case json::Value::Type::Number:
        return json::to_compact_string(key);
    case json::Value::Type::String:
        return key.as_string();
    default:
        return Err(PolicyError("Group key must be a string, number, bool, or null literal, got " +
                               json::to_compact_string(key)));
    }
}

Result<Expression, PolicyError> expand_expression(const Expression& expression,
                                                  const Graph& graph) {
    return expand(expression, graph);
}

} // namespace vok
