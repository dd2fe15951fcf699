#include "two_phase_oracle.h"

#include "policy/evaluation.h"
#include "policy/expansion.h"
#include "policy/policy_evaluation.h"

namespace vok::testing {

Result<EvaluationResult, PolicyError> two_phase_evaluate_policy(const Graph& graph,
                                                                const Policy& policy) {
    const bool three_valued = graph.use_three_valued_logic();
    VOK_TRY(check_aggregation_in_boolean_context(policy.expression, true));
    VOK_ASSIGN(Expression expanded, expand_expression(policy.expression, graph));
    TruthValue outcome;
    if (three_valued) {
        VOK_ASSIGN(outcome, evaluate_three_valued(policy, expanded, graph));
    } else {
        VOK_ASSIGN(bool holds, evaluate_boolean(policy, expanded, graph));
        outcome = truth_of(holds);
    }
    return evaluation_result_for(policy, outcome);
}

std::string describe(const Result<EvaluationResult, PolicyError>& result) {
    if (!result.ok()) return "error: " + result.error().to_string();
    const EvaluationResult& r = result.value();
    std::string out =
        r.is_satisfied_tristate ? (*r.is_satisfied_tristate ? "true" : "false") : "unknown";
    for (const Violation& v : r.violations)
        out += " | " + v.name + " / " + v.message + " / " + std::string(name_of(v.severity));
    return out;
}

} // namespace vok::testing
