// Normal forms of policy expressions.
//
// Two expressions that differ only in the operand order of a commutative operator, in how a chain
// of one such operator is nested, in double negation, in a negated comparison or in redundant
// boolean operands normalise to the same tree. The walk is bottom-up: children are brought into
// normal form before their parent is looked at, and a binary node is rebuilt from its already
// normal operands by `normalize_binary`. Literals are never rewritten (1 and 1.0, 100 USD and
// 100.00 USD stay apart), absorption looks only at the direct operands of a disjunction or
// conjunction, and duplicates are found only among neighbours after sorting. Because of those two
// local rules a second normalisation can still simplify a normal form: the walk is not idempotent.
//
// Operands of the commutative group are ordered by their canonical key text
// (normalize_key.h). Trees have no depth bound, so every recursive step goes through
// `with_stack_room`.
#pragma once

#include <optional>
#include <vector>

#include "expression/expression.h"

namespace vok {

// The canonical form of `e`; `e` is only read.
Expression normalize_expression(const Expression& e);

// The canonical form of the binary node `op` over two operands that are already canonical.
Expression normalize_binary(BinaryOp op, Expression left, Expression right);

// The operands of a chain of `op`: copies of the non-`op` leaves of `e`, left to right.
std::vector<Expression> flatten_binary_chain(BinaryOp op, const Expression& e);

// The absorption test: when `y` is the dual of the outer operator (Or under And, And under Or)
// and one of its two direct operands equals `x`, a copy of `x`; otherwise nothing.
std::optional<Expression> absorb_operand(const Expression& x, const Expression& y, bool is_and);

// Whether `e` is a literal holding the JSON boolean true (false).
bool is_true_literal(const Expression& e);
bool is_false_literal(const Expression& e);

} // namespace vok
