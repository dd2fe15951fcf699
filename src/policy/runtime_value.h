// Operand resolution and value comparison: how the evaluators read the operands of a comparison.
//
// Operands are turned into runtime JSON values first; numbers and quantities are then read out of
// those values as decimals with an optional unit and compared, converting units through the
// process-wide unit registry when two quantities carry different ones. Quantities and intervals
// travel as small JSON objects with reserved keys so that they share the value channel with plain
// numbers, strings and booleans. A conversion whose arithmetic overflows is a failed conversion
// like any other: the values come from the caller, so nothing here may end as a broken invariant.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/result.h"
#include "decimal/decimal.h"
#include "expression/expression.h"
#include "graph/graph.h"
#include "policy/policy_error.h"
#include "units/conversion.h"
#include "json/value.h"

namespace vok {

// {"__quantity_value": the decimal's text, "__quantity_unit": the symbol}.
json::Value quantity_object(const Decimal& value, std::string_view unit);
// {"__interval_start": start, "__interval_end": end}.
json::Value interval_object(std::string_view start, std::string_view end);

// An operand as the evaluators meet it: a literal's value (borrowed), or an expression to resolve.
// Both give the value `resolve_runtime_value` would give for the operand's expression.
struct Operand {
    const json::Value* literal = nullptr;
    const Expression* expression = nullptr;

    static Operand of(const Expression& e);
};

Result<json::Value, PolicyError> resolve_runtime_value(const Expression& expression,
                                                       const Graph& graph);
Result<json::Value, PolicyError> resolve_runtime_value(const Operand& operand, const Graph& graph);

// A string value, else "Expected string value".
Result<std::string, PolicyError> expect_string_operand(const Operand& operand, const Graph& graph);

Result<Decimal, PolicyError> parse_decimal_value(const json::Value& value);

struct NumericOperand {
    Decimal value;
    std::optional<std::string> unit;
};

// A number or numeric string (unitless), a quantity object (with its unit), or nothing for any
// other value; an error for unreadable numbers and half-formed quantity objects.
Result<std::optional<NumericOperand>, PolicyError> parse_quantity_object(const json::Value& value);

// A numeric operand for two-valued comparisons; "Expected numeric value, got: ..." otherwise.
Result<NumericOperand, PolicyError> resolve_operand(const Operand& operand, const Graph& graph);

// Two-valued ordering comparison (GreaterThan, LessThan, GreaterThanOrEqual, LessThanOrEqual).
Result<bool, PolicyError> compare_values(const Operand& left, const Operand& right,
                                         const Graph& graph, BinaryOp op);

// "Unit conversion failed: " and the conversion's error text.
std::string conversion_failed(const ConversionError& error);

// Both operands in one unit, or nothing when they cannot be compared (not numeric, only one
// side with a unit, units unknown or not convertible). The right operand is converted into the
// left operand's unit.
Result<std::optional<std::pair<Decimal, Decimal>>, PolicyError>
compare_values_three_valued(const std::optional<NumericOperand>& left,
                            const std::optional<NumericOperand>& right);

// Structural equality in which numbers compare by their exact value at every depth: 1 equals 1.0
// and [1, {"k": 2}] equals [1.0, {"k": 2.0}], while 2^53 + 1 differs from the float 2^53. What
// two-valued Equal and NotEqual decide; everywhere else JSON values compare by kind as well.
bool equal_by_number_value(const json::Value& left, const json::Value& right);

// Whether `left op right` holds for an equality or ordering operator (false for any other).
template <class T> bool comparison_holds(BinaryOp op, const T& left, const T& right) {
    switch (op) {
    case BinaryOp::Equal:
        return left == right;
    case BinaryOp::NotEqual:
        return !(left == right);
    case BinaryOp::GreaterThan:
        return left > right;
    case BinaryOp::LessThan:
        return left < right;
    case BinaryOp::GreaterThanOrEqual:
        return left >= right;
    case BinaryOp::LessThanOrEqual:
        return left <= right;
    default:
        return false;
    }
}

// The cast of a resolved value to a unit: the value in the target unit, with the target symbol.
Result<NumericOperand, PolicyError> cast_quantity(const json::Value& value,
                                                  std::string_view target);
// The same as a quantity object.
Result<json::Value, PolicyError> cast_value(const json::Value& value, std::string_view target);

Result<bool, PolicyError> evaluate_has_role(const Operand& left, const Operand& right,
                                            const Graph& graph);

} // namespace vok
