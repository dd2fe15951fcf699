// Expansion: rewriting an expression against one graph so that nothing in it still ranges over a
// collection.
//
// Quantifiers become boolean literals or And/Or chains with one condition per item, group-by
// becomes a boolean literal, aggregations and comprehensions become number literals, and binary
// operations whose operands both became literals are computed on the spot (`fold_literals`; null
// absorbs everything, which is not Kleene's rule: false AND null is null).
//
// `expand_expression` builds the whole expanded tree, chains as long as the collections and
// nested quantifiers multiplied out; it is the reference form of the rules. Policy evaluation
// does not build it (see fused_evaluation.h), but reaches the same results.
#pragma once

#include <optional>
#include <string>

#include "common/result.h"
#include "expression/expression.h"
#include "graph/graph.h"
#include "policy/policy_error.h"
#include "json/value.h"

namespace vok {

Result<Expression, PolicyError> expand_expression(const Expression& expression, const Graph& graph);

// The value of `left op right` for two literal values, nothing for operators expansion leaves
// to evaluation, or the error of a value of the wrong kind.
Result<std::optional<json::Value>, PolicyError> fold_literals(BinaryOp op, const json::Value& left,
                                                              const json::Value& right);

// The text under which group-by files an item with this key, or the error for arrays and objects.
Result<std::string, PolicyError> group_text(const json::Value& key);

} // namespace vok
