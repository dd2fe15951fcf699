// The wrapper of Graph.evaluate_policy; see graph_evaluation.h.
//
// The policy is read from the argument and evaluated as given: it is not added to the graph, and
// the graph's stored policies are not consulted. The graph is borrowed shared for the whole call.
#include "python/policy/graph_evaluation.h"

#include <string_view>

#include "expression/policy.h"
#include "policy/policy_evaluation.h"
#include "python/binding/binding.h"
#include "python/core_errors.h"
#include "python/graph_class.h"
#include "python/policy/evaluation_classes.h"

namespace vok::python {

namespace {

constexpr Signature kEvaluatePolicy{"Graph.evaluate_policy", {{"policy_json"}}};

PyResult<EvaluationResult> evaluate_policy_json(const Graph& self, Args& args) {
    VOK_ASSIGN(std::string_view policy_json, args.text(0));
    VOK_ASSIGN(Policy policy,
               core_result(Policy::deserialize(policy_json), messages::prefix::kInvalidPolicyJson));
    return core_result(evaluate_policy(self, policy), messages::prefix::kPolicyEvaluation);
}

} // namespace

MethodRow graph_evaluate_policy_row() {
    return method<kEvaluatePolicy, evaluate_policy_json>();
}

} // namespace vok::python
