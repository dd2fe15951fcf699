// The evaluation road: one policy against one graph, giving an EvaluationResult.
//
// The road checks that no aggregation stands where a truth value is needed, then expands and
// evaluates the policy's expression in the graph's current logic (fused_evaluation.h) and turns
// the outcome into at most one violation. The graph is only read, and the policies stored in it
// are neither consulted nor changed: the policy is the caller's.
#pragma once

#include <string>

#include "common/result.h"
#include "expression/policy.h"
#include "graph/graph.h"
#include "policy/evaluation_result.h"
#include "policy/policy_error.h"
#include "policy/truth_value.h"

namespace vok {

Result<EvaluationResult, PolicyError> evaluate_policy(const Graph& graph, const Policy& policy);

// Fails with the aggregation message when an Aggregation or AggregationComprehension stands where
// a truth value is needed. The operand of a cast and the object of a member access are not
// looked into.
Result<void, PolicyError> check_aggregation_in_boolean_context(const Expression& expression,
                                                               bool in_boolean_context);

// The result record for an outcome: no violation for True, one for False or Unknown.
EvaluationResult evaluation_result_for(const Policy& policy, TruthValue outcome);

} // namespace vok
