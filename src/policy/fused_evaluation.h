// Policy evaluation in one pass: expansion and evaluation fused, item by item.
//
// Expanding first and evaluating afterwards (expansion.h, evaluation.h) builds a chain as long as
// each collection, multiplied out for nested quantifiers: memory grows with the product of the
// collection sizes. This pass reaches the same outcome without building the chains:
// - a quantifier's items are bound one at a time (an environment of bindings stands in for
//   rewriting the condition, with the same shadowing), each condition is expanded and, where a
//   truth value is needed, evaluated at once and folded into the running Kleene result, then
//   dropped; nothing short-circuits, so every item is expanded and evaluated in order;
// - graph records are read through `ItemRef`, so an item costs only the keys the condition reads;
// - evaluation errors, and exceptions thrown while evaluating, are held back until the whole
//   expansion has succeeded: an expansion error always outranks them, as it does when the phases
//   run one after the other. Of held errors the first in evaluation order wins. Cancellation is
//   never held back: every walk over a collection polls for it, and it ends the call at once.
// Sub-expressions this pass does not take apart itself (casts, aggregations, comprehensions) are
// rewritten with the current bindings and expanded by `expand_expression`, one item at a time.
#pragma once

#include <optional>
#include <string>

#include "common/result.h"
#include "expression/policy.h"
#include "graph/graph.h"
#include "policy/policy_error.h"
#include "policy/truth_value.h"

namespace vok {

// The truth of the policy's expression in the given logic (Unknown only in three-valued logic),
// or the first error.
Result<TruthValue, PolicyError> evaluate_fused(const Policy& policy, const Graph& graph,
                                               bool three_valued);

} // namespace vok
