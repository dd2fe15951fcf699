// The canonical key text of an expression: the order of operands in a normal form.
//
// The key text spells out every node as "Kind(field, field, ...)" ("Bin(And, Var(a), Var(b))",
// "Quant(100, \"USD\")"): variant, operator and function names as they are declared, units,
// target types and window units in their debugging quotes, every other text as it is, "None" for
// an absent optional part. It is used only to order the operands of a commutative chain and is
// never stored.
//
// Sorting compares many pairs of operands whose texts usually differ within their first bytes,
// while one operand may be a tree of a million nodes. So the text is produced piece by piece by a
// cursor that walks the tree with an explicit stack, and a comparison stops at the first byte that
// differs: comparing is cheap however large the operands are, and no walk recurses on the thread's
// stack.
#pragma once

#include <string>

#include "expression/expression.h"

namespace vok {

// The whole key text.
std::string render_normalized_expression(const Expression& e);

// Byte-wise comparison of the key texts of `a` and `b` (a prefix orders first): negative, zero or
// positive. Only as much of each text is produced as the comparison needs.
int compare_normalized_keys(const Expression& a, const Expression& b);

} // namespace vok
