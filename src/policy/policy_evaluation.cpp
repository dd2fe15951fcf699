// The evaluation road; the definitions behind policy_evaluation.h.
#include "policy/policy_evaluation.h"

#include "common/deep_recursion.h"
#include "policy/fused_evaluation.h"

namespace vok {

namespace {

Result<void, PolicyError> check_child(const Expression& e, bool flag) {
    return with_stack_room([&] { return check_aggregation_in_boolean_context(e, flag); });
}

} // namespace

Result<void, PolicyError> check_aggregation_in_boolean_context(const Expression& expression,
                                                               bool in_boolean_context) {
    switch (expression.kind()) {
    case ExpressionKind::Binary: {
        const auto& b = *expression.get_if<expr::Binary>();
        bool logical = b.op == BinaryOp::And || b.op == BinaryOp::Or;
        VOK_TRY(check_child(*b.left, logical));
        return check_child(*b.right, logical);
    }
    case ExpressionKind::Unary: {
        const auto& u = *expression.get_if<expr::Unary>();
        return check_child(*u.operand, u.op == UnaryOp::Not);
    }
    case ExpressionKind::Quantifier: {
        const auto& q = *expression.get_if<expr::Quantifier>();
        VOK_TRY(check_child(*q.collection, false));
        return check_child(*q.condition, true);
    }
    case ExpressionKind::GroupBy: {
        const auto& g = *expression.get_if<expr::GroupBy>();
        VOK_TRY(check_child(*g.collection, false));
        if (g.filter) VOK_TRY(check_child(**g.filter, true));
        VOK_TRY(check_child(*g.key, false));
        return check_child(*g.condition, true);
    }
    case ExpressionKind::Aggregation:
    case ExpressionKind::AggregationComprehension:
        if (in_boolean_context)
            return Err(PolicyError("Aggregation in boolean context requires explicit comparison "
                                   "(e.g., COUNT(...) > 0)"));
        return Ok();
    default:
        return Ok();
    }
}

EvaluationResult evaluation_result_for(const Policy& policy, TruthValue outcome) {
    EvaluationResult result;
    Severity severity = severity_for(policy.modality);
    switch (outcome) {
    case TruthValue::True:
        result.is_satisfied = true;
        result.is_satisfied_tristate = true;
        break;
    case TruthValue::False:
        result.is_satisfied_tristate = false;
        result.violations.push_back(
            Violation::make(policy.name, "Policy '" + policy.name + "' was violated", severity));
        break;
    case TruthValue::Unknown:
        result.violations.push_back(Violation::make(
            policy.name, "Policy '" + policy.name + "' evaluation is UNKNOWN (NULL)", severity));
        break;
    }
    return result;
}

Result<EvaluationResult, PolicyError> evaluate_policy(const Graph& graph, const Policy& policy) {
    const bool three_valued = graph.use_three_valued_logic();
    VOK_TRY(check_aggregation_in_boolean_context(policy.expression, true));
    VOK_ASSIGN(TruthValue outcome, evaluate_fused(policy, graph, three_valued));
    return evaluation_result_for(policy, outcome);
}

} // namespace vok
