// The two JSON forms of an expression.
//
// The policy form is read: each expression is an object with one member whose key names the
// variant ({"Binary": {"op": "And", "left": ..., "right": ...}}); it is the `expression` of policy
// documents. The syntax-tree form is written: an object whose first member is "type" with the
// variant name, then the variant's fields in declaration order, optional ones only when present;
// the syntax-tree JSON of parsed files uses it. The two forms do not read each other.
#pragma once

#include "expression/expression.h"
#include "json/deserializer.h"
#include "json/writer.h"

namespace vok {

// Reads one expression in the policy form. Each level of nesting takes two levels of the reader's
// nesting budget (the variant object and its content).
Result<Expression, json::Error> read_expression(json::Deserializer& de);
Result<WindowSpec, json::Error> read_window_spec(json::Deserializer& de);
// A decimal from a JSON number or a JSON string of decimal text.
Result<Decimal, json::Error> read_decimal(json::Deserializer& de);

// Writes one expression in the syntax-tree form as the next value of `w`.
void write_expression_json(json::Writer& w, const Expression& e);

} // namespace vok
