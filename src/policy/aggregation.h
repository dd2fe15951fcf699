// Aggregations and aggregation comprehensions: the numbers that Count, Sum, Min, Max and Avg
// compute over a collection while an expression is expanded.
//
// Arithmetic is exact decimal arithmetic; the result leaves as a floating-point JSON number (an
// unsigned integer for Count) or null. Items are visited one at a time, so a collection of any
// size costs one item's memory. A result beyond the decimal range is reported as an error, not
// wrapped or rounded.
#pragma once

#include <string>

#include "common/result.h"
#include "expression/expression.h"
#include "graph/graph.h"
#include "json/value.h"

namespace vok {

Result<json::Value, std::string> expand_aggregation(const expr::Aggregation& aggregation,
                                                    const Graph& graph);

// Reads the real-time clock when the comprehension has a window.
Result<json::Value, std::string>
expand_aggregation_comprehension(const expr::AggregationComprehension& comprehension,
                                 const Graph& graph);

// The decimal of a JSON number as its shortest plain float text reads ("5", "12.5", "0.0000001").
Result<Decimal, std::string> decimal_of_float_text(double value);

} // namespace vok
