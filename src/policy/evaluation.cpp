// The per-node rules of policy evaluation in both logics; the definitions behind evaluation.h.
#include "policy/evaluation.h"

#include <utility>

#include "common/invariant.h"
#include "time/rfc3339.h"
#include "json/writer.h"

namespace vok {

namespace {

constexpr std::string_view kArithmetic = "Arithmetic operations not supported in boolean context";
constexpr std::string_view kDuring =
    "'during' operator requires interval semantics which are not yet implemented. Use 'before' "
    "and 'after' for timestamp comparisons.";
constexpr std::string_view kAggregationInBooleanContext =
    "Aggregation in boolean context requires explicit comparison (e.g., COUNT(...) > 0)";

bool is_arithmetic(BinaryOp op) {
    return op == BinaryOp::Plus || op == BinaryOp::Minus || op == BinaryOp::Multiply ||
           op == BinaryOp::Divide;
}

bool is_ordering(BinaryOp op) {
    return op == BinaryOp::GreaterThan || op == BinaryOp::LessThan ||
           op == BinaryOp::GreaterThanOrEqual || op == BinaryOp::LessThanOrEqual;
}

bool text_test(BinaryOp op, std::string_view left, std::string_view right) {
    if (op == BinaryOp::Contains) return left.find(right) != std::string_view::npos;
    if (op == BinaryOp::StartsWith) return left.starts_with(right);
    return left.ends_with(right);
}

// The pattern named `name` in the policy's namespace, tested against `text`.
Result<bool, PolicyError> pattern_matches(const Policy& policy, const Graph& graph,
                                          const std::string& text, const std::string& name) {
    for (const auto& entry : graph.patterns()) {
        const Pattern& pattern = entry.second;
        if (pattern.name != name || pattern.namespace_ != policy.namespace_) continue;
        auto matched = pattern.is_match(text);
        if (!matched.ok())
            return Err(
                PolicyError("Pattern '" + name + "' failed to evaluate: " + matched.error()));
        return *matched;
    }
    return Err(
        PolicyError("Pattern '" + name + "' not found in namespace '" + policy.namespace_ + "'"));
}

std::optional<NumericOperand> numeric_or_nothing(const json::Value& value) {
    auto read = parse_quantity_object(value);
    if (!read.ok()) return std::nullopt;
    return std::move(*read);
}

} // namespace

TruthValue three_valued_literal(const json::Value& value) {
    if (value.is_bool()) return truth_of(value.as_bool());
    return TruthValue::Unknown;
}

Result<bool, PolicyError> boolean_literal(const json::Value& value) {
    if (value.is_bool()) return value.as_bool();
    return Err(PolicyError("Expected boolean literal, got: " + json::to_compact_string(value)));
}

Result<TruthValue, PolicyError> three_valued_node(const Expression& e, const Graph& graph) {
    switch (e.kind()) {
    case ExpressionKind::Literal:
        return three_valued_literal(e.get_if<expr::Literal>()->value);
    case ExpressionKind::Cast:
    case ExpressionKind::MemberAccess: {
        VOK_ASSIGN(json::Value value, resolve_runtime_value(e, graph));
        return three_valued_literal(value);
    }
    case ExpressionKind::Variable:
        return Err(PolicyError("Cannot evaluate unexpanded variable: " +
                               e.get_if<expr::Variable>()->name));
    case ExpressionKind::QuantityLiteral:
        return Err(
            PolicyError("Cannot convert quantity to boolean; compare against a threshold instead"));
    case ExpressionKind::TimeLiteral:
        return Err(
            PolicyError("Cannot convert time to boolean; use temporal comparison operators"));
    case ExpressionKind::IntervalLiteral:
        return Err(
            PolicyError("Cannot convert interval to boolean; use temporal comparison operators"));
    case ExpressionKind::GroupBy:
        return Err(PolicyError("Cannot evaluate non-expanded group_by"));
    case ExpressionKind::Aggregation:
    case ExpressionKind::AggregationComprehension:
        return Err(PolicyError(kAggregationInBooleanContext));
    default:
        invariant_failed("three_valued_node called with a compound expression");
    }
}

Result<bool, PolicyError> boolean_node(const Expression& e, const Graph& graph) {
    switch (e.kind()) {
    case ExpressionKind::Literal:
        return boolean_literal(e.get_if<expr::Literal>()->value);
    case ExpressionKind::QuantityLiteral:
        return Err(PolicyError("Cannot evaluate quantity literal in boolean context"));
    case ExpressionKind::TimeLiteral:
        return Err(PolicyError("Cannot evaluate time literal in boolean context"));
    case ExpressionKind::IntervalLiteral:
        return Err(PolicyError("Cannot evaluate interval literal in boolean context"));
    case ExpressionKind::Variable:
        return Err(PolicyError("Cannot evaluate unexpanded variable: " +
                               e.get_if<expr::Variable>()->name));
    case ExpressionKind::GroupBy:
        return Err(PolicyError("Cannot evaluate non-expanded group_by"));
    case ExpressionKind::Quantifier:
        return Err(PolicyError("Cannot evaluate non-expanded quantifier"));
    case ExpressionKind::Aggregation:
        return Err(PolicyError("Cannot evaluate non-expanded aggregation"));
    case ExpressionKind::AggregationComprehension:
        return Err(PolicyError("Cannot evaluate non-expanded aggregation comprehension"));
    case ExpressionKind::Cast: {
        VOK_ASSIGN(json::Value value, resolve_runtime_value(e, graph));
        if (value.is_bool()) return value.as_bool();
        return Err(
            PolicyError("Expected boolean from cast, got: " + json::to_compact_string(value)));
    }
    case ExpressionKind::MemberAccess: {
        VOK_ASSIGN(json::Value value, resolve_runtime_value(e, graph));
        if (value.is_bool()) return value.as_bool();
        if (value.is_null()) return false;
        const auto& m = *e.get_if<expr::MemberAccess>();
        return Err(PolicyError("Expected boolean value for member '" + m.object + "." + m.member +
                               "', but found " + json::to_compact_string(value)));
    }
    default:
        invariant_failed("boolean_node called with a compound expression");
    }
}

Result<TruthValue, PolicyError> three_valued_comparison(const Policy& policy, BinaryOp op,
                                                        const Operand& left, const Operand& right,
                                                        const Graph& graph) {
    if (is_arithmetic(op)) return Err(PolicyError(kArithmetic));
    if (op == BinaryOp::During) return Err(PolicyError(kDuring));
    if (op == BinaryOp::HasRole) {
        VOK_ASSIGN(bool has, evaluate_has_role(left, right, graph));
        return truth_of(has);
    }
    auto l = resolve_runtime_value(left, graph);
    auto r = resolve_runtime_value(right, graph);
    if (!l.ok() || !r.ok() || l->is_null() || r->is_null()) return TruthValue::Unknown;
    if (is_ordering(op) || op == BinaryOp::Equal || op == BinaryOp::NotEqual) {
        auto lq = numeric_or_nothing(*l);
        auto rq = numeric_or_nothing(*r);
        std::optional<std::pair<Decimal, Decimal>> pair;
        if (lq && rq) {
            VOK_ASSIGN(pair, compare_values_three_valued(lq, rq));
        }
        if (is_ordering(op)) {
            if (!pair) return TruthValue::Unknown;
            return truth_of(comparison_holds(op, pair->first, pair->second));
        }
        bool equal;
        if (pair) {
            equal = pair->first == pair->second;
        } else if (l->is_number() || r->is_number()) {
            return TruthValue::Unknown;
        } else {
            equal = *l == *r;
        }
        return truth_of(op == BinaryOp::Equal ? equal : !equal);
    }
    if (!l->is_string() || !r->is_string()) return TruthValue::Unknown;
    const std::string& ls = l->as_string();
    const std::string& rs = r->as_string();
    switch (op) {
    case BinaryOp::Contains:
    case BinaryOp::StartsWith:
    case BinaryOp::EndsWith:
        return truth_of(text_test(op, ls, rs));
    case BinaryOp::Matches: {
        VOK_ASSIGN(bool matched, pattern_matches(policy, graph, ls, rs));
        return truth_of(matched);
    }
    case BinaryOp::Before:
    case BinaryOp::After: {
        auto lt = parse_rfc3339(ls);
        auto rt = parse_rfc3339(rs);
        if (!lt.ok() || !rt.ok()) return TruthValue::Unknown;
        return truth_of(op == BinaryOp::Before ? *lt < *rt : *lt > *rt);
    }
    default:
        return Err(
            PolicyError("Unsupported operator in boolean context: " + std::string(name_of(op))));
    }
}

Result<bool, PolicyError> boolean_comparison(const Policy& policy, BinaryOp op, const Operand& left,
                                             const Operand& right, const Graph& graph) {
    if (is_ordering(op)) return compare_values(left, right, graph, op);
    if (is_arithmetic(op)) return Err(PolicyError(kArithmetic));
    switch (op) {
    case BinaryOp::Equal:
    case BinaryOp::NotEqual: {
        VOK_ASSIGN(json::Value l, resolve_runtime_value(left, graph));
        VOK_ASSIGN(json::Value r, resolve_runtime_value(right, graph));
        // An integer set from Python must equal the same number written in a policy, which the
        // builder makes a float.
        const bool equal = equal_by_number_value(l, r);
        return op == BinaryOp::Equal ? equal : !equal;
    }
    case BinaryOp::Contains:
    case BinaryOp::StartsWith:
    case BinaryOp::EndsWith: {
        VOK_ASSIGN(std::string l, expect_string_operand(left, graph));
        VOK_ASSIGN(std::string r, expect_string_operand(right, graph));
        return text_test(op, l, r);
    }
    case BinaryOp::Matches: {
        VOK_ASSIGN(std::string l, expect_string_operand(left, graph));
        VOK_ASSIGN(std::string r, expect_string_operand(right, graph));
        return pattern_matches(policy, graph, l, r);
    }
    case BinaryOp::HasRole:
        return evaluate_has_role(left, right, graph);
    case BinaryOp::Before:
    case BinaryOp::After:
    case BinaryOp::During: {
        VOK_ASSIGN(std::string l, expect_string_operand(left, graph));
        VOK_ASSIGN(std::string r, expect_string_operand(right, graph));
        auto lt = parse_rfc3339(l);
        if (!lt.ok())
            return Err(PolicyError("Failed to parse left timestamp '" + l + "': " + lt.error()));
        auto rt = parse_rfc3339(r);
        if (!rt.ok())
            return Err(PolicyError("Failed to parse right timestamp '" + r + "': " + rt.error()));
        if (op == BinaryOp::During) return Err(PolicyError(kDuring));
        return op == BinaryOp::Before ? *lt < *rt : *lt > *rt;
    }
    default:
        return Err(
            PolicyError("Unsupported operator in boolean context: " + std::string(name_of(op))));
    }
}

} // namespace vok
