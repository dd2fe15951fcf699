// The text form in which CALM documents carry policy and metric expressions.
//
// It is written so that the DSL's expression grammar reads most of it back (lower-case operator
// words, quantities as `5 "kg"`), but it is not the DSL formatter's output and not every tree
// survives the trip: null and array literals, filtered aggregations, target units and texts with
// quotes come back differently or not at all. Names, units and texts are inserted as they are,
// without escaping.
//
// Expression trees have no depth bound (a chain of 100,000 conjunctions is valid DSL), so the
// writer keeps its own stack of pending pieces instead of recursing per level.
#pragma once

#include <string>

#include "expression/expression.h"

namespace vok::calm {

std::string expression_to_calm_text(const Expression& expression);

} // namespace vok::calm
