// Aggregations and aggregation comprehensions: the numbers that Count, Sum, Min, Max and Avg
// compute over a collection while an expression is expanded.
//
// Arithmetic is exact decimal arithmetic; the result leaves as a floating-point JSON number (an
// unsigned integer for Count) or null. Items are visited one at a time, so a collection of any
// size costs one item's memory. A result beyond the decimal range is reported as an error, not
// wrapped or rounded.
#pragma once

#include <string>
#include <string_view>

#include "common/function_ref.h"
#include "common/result.h"
#include "expression/expression.h"
#include "graph/graph.h"
#include "policy/policy_error.h"
#include "policy/quantifier_items.h"
#include "json/value.h"

namespace vok {

Result<json::Value, PolicyError> expand_aggregation(const expr::Aggregation& aggregation,
                                                    const Graph& graph);

// Reads the real-time clock when the comprehension has a window.
Result<json::Value, PolicyError>
expand_aggregation_comprehension(const expr::AggregationComprehension& comprehension,
                                 const Graph& graph);

// Expands one part of an aggregation (filter, predicate or projection) with `variable` bound to
// the item, as substitution followed by expansion would.
using PartExpander = FunctionRef<Result<Expression, PolicyError>(
    const Expression& part, std::string_view variable, const ItemRef& item)>;

// The two computations over items already found; `filter_variable` is the name the filter sees
// its item under. `expand_aggregation` and `expand_aggregation_comprehension` are these with the
// collection read from the expression and parts expanded by `expand_expression`.
Result<json::Value, PolicyError> aggregate(const expr::Aggregation& aggregation,
                                           const CollectionSource& source,
                                           std::string_view filter_variable, const Graph& graph,
                                           PartExpander expand);
Result<json::Value, PolicyError>
aggregate_comprehension(const expr::AggregationComprehension& comprehension,
                        const CollectionSource& source, const Graph& graph, PartExpander expand);

// "flow" for the collection "flows" and likewise for the others; "item" for anything else.
std::string_view filter_variable_for(const Expression& collection);

// The decimal of a JSON number as its shortest plain float text reads ("5", "12.5", "0.0000001").
Result<Decimal, PolicyError> decimal_of_float_text(double value);

} // namespace vok
