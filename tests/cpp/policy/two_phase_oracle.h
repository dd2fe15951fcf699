// The evaluation road run literally: expand the whole expression first, then evaluate the
// expanded tree. It builds every chain in full, so it is only fit for small graphs; the tests use
// it as the reference the production road (one fused pass) must agree with.
#pragma once

#include <string>

#include "common/result.h"
#include "expression/policy.h"
#include "graph/graph.h"
#include "policy/evaluation_result.h"
#include "policy/policy_error.h"

namespace vok::testing {

Result<EvaluationResult, PolicyError> two_phase_evaluate_policy(const Graph& graph,
                                                                const Policy& policy);

// A one-line account of an outcome for comparisons: the truth and violations, the error text, or
// the text of an exception (a panic at the Python boundary).
template <class F> std::string describe_outcome(F&& run);

std::string describe(const Result<EvaluationResult, PolicyError>& result);

template <class F> std::string describe_outcome(F&& run) {
    try {
        return describe(run());
    } catch (const std::exception& e) {
        return std::string("panic: ") + e.what();
    }
}

} // namespace vok::testing
