// The per-node rules of policy evaluation, three-valued (Kleene) and strict two-valued.
//
// In three-valued logic, comparisons whose operands are missing, null, of the wrong kind or in
// units that do not convert are Unknown; structural faults (unexpanded parts, arithmetic, During,
// Negate, unknown patterns) are errors in both logics. Patterns are looked up in the policy's
// namespace. The fused pass of policy evaluation (fused_evaluation.h) applies these rules to
// operands it never assembles into a tree, and connects their outcomes itself.
#pragma once

#include <string>

#include "common/result.h"
#include "expression/expression.h"
#include "expression/policy.h"
#include "graph/graph.h"
#include "policy/policy_error.h"
#include "policy/runtime_value.h"
#include "policy/truth_value.h"

namespace vok {

// A literal value standing where a truth value is needed.
TruthValue three_valued_literal(const json::Value& value);
Result<bool, PolicyError> boolean_literal(const json::Value& value);

// A node that is neither Binary, Unary nor Quantifier, standing where a truth value is needed.
Result<TruthValue, PolicyError> three_valued_node(const Expression& e, const Graph& graph);
Result<bool, PolicyError> boolean_node(const Expression& e, const Graph& graph);

// A binary operator other than And and Or over two operands.
Result<TruthValue, PolicyError> three_valued_comparison(const Policy& policy, BinaryOp op,
                                                        const Operand& left, const Operand& right,
                                                        const Graph& graph);
Result<bool, PolicyError> boolean_comparison(const Policy& policy, BinaryOp op, const Operand& left,
                                             const Operand& right, const Graph& graph);

inline constexpr std::string_view kNegateInBooleanContext =
    "Negate operator not supported in boolean context";

} // namespace vok
