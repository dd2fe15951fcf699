// The text form of an expression: what Python shows as its str and repr, written in one pass,
// depth first, with no line breaks. Binary nodes bring their own parentheses; nothing else does.
#pragma once

#include <string>
#include <string_view>

#include "expression/expression.h"

namespace vok {

// Operator and function words: "AND", "==", "STARTS_WITH", "NOT", "-", "COUNT", "ForAll", ...
std::string_view word_of(BinaryOp op);
std::string_view word_of(UnaryOp op);
std::string_view word_of(AggregateFunction f);
std::string_view word_of(Quantifier q);

// The same words as DSL source spells them: "=", "STARTSWITH", "count", "forall", ...
std::string_view source_word_of(BinaryOp op);
std::string_view source_word_of(AggregateFunction f);
std::string_view source_word_of(Quantifier q);

void write_expression(std::string& out, const Expression& e);
std::string expression_text(const Expression& e);

} // namespace vok
