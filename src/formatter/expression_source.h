// Expressions written as source: the text form's layout in the grammar's own spelling.
//
// The layout is that of the expression text form (every binary operation in parentheses, single
// blanks around operators, operator words in capitals), but every construct is spelled so that
// the grammar reads it back to the same tree: "=" for equality, STARTSWITH and ENDSWITH, quoted
// units, quantifiers and aggregations in source syntax, strings with the grammar's escapes and
// numbers without an exponent. Parentheses are added where the grammar's precedence would group
// the text differently (a NOT under a comparison, a negation or cast under a cast).
//
// Two situations make the text form's parentheses themselves unreadable, and there the output
// leaves some out:
// - every parenthesis opens a new expression, where a leading word "not" is the NOT operator
//   even inside a longer name (the grammar has no word boundary), so a binary operation whose
//   text would begin with a name such as `notice` is written without its parentheses; the parser
//   only builds such a tree where precedence alone groups it;
// - the parser refuses expressions nested more deeply than its grammar limit, and the text form
//   nests far deeper than the source it came from (a chain a AND b AND ... gets a parenthesis
//   per operation). An expression whose text-form parentheses would nest more than
//   kMaxNestedParentheses deep, or whose text form would take the grammar's rules deeper than
//   its limit (counted frame by frame as the parser counts them, `not` and unary minus included,
//   below the `enclosing_rules` of the declaration around it), is written with only the
//   parentheses that precedence requires, which never nests deeper than the source that built
//   the tree.
#pragma once

#include <cstddef>
#include <string>

#include "expression/expression.h"

namespace vok {

inline constexpr size_t kMaxNestedParentheses = 64;

// `enclosing_rules`: the grammar rules open around the expression rule where the text will stand
// (program, declaration, declaration_inner and policy_decl for a policy's condition).
void append_expression_source(std::string& out, const Expression& e, size_t enclosing_rules = 0);
std::string expression_source(const Expression& e);

// The deepest nesting of grammar rules that reading back the written text reaches, the
// enclosing rules included.
size_t expression_source_rule_nesting(const Expression& e, size_t enclosing_rules);

} // namespace vok
