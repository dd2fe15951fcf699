// Building Expression trees from the parse tree of the expression rules.
//
// One builder per precedence level, each dispatched on the pair's rule. Operator, function,
// quantifier and collection words ignore letter case; names keep the case they were written in.
// Numbers become floating-point JSON literals (5 is held as 5.0); quantities stay exact decimals.
// The first malformed node ends the build; nothing partial is returned.
#pragma once

#include "expression/expression.h"
#include "parser/parse_tree.h"
#include "parser/token_readers.h"
#include "primitives/target_format.h"
#include "primitives/time_span.h"

namespace vok {

// Accepts a pair of any expression level (`expression` down to `primary_expr`).
ParseResult<Expression> build_expression(const grammar::DslPair& pair);

ParseResult<TargetFormat> parse_target_format(const grammar::DslPair& pair);

// `value` of the duration `unit`, positioned at `line`:`column` for the messages.
ParseResult<TimeSpan> parse_duration_unit(int64_t value, std::string_view unit, size_t line,
                                          size_t column);

} // namespace vok
