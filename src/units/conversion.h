// Converting a quantity from one unit to another of the same dimension.
//
// Conversion goes through the dimension's base unit: value × from.factor ÷ to.factor, in exact
// decimal arithmetic, multiplication first. Units are passed in, never looked up, so the caller
// decides which registry (or which stand-alone units) a conversion uses.
#pragma once

#include "decimal/decimal.h"
#include "units/unit.h"
#include "units/unit_error.h"
#include "common/result.h"

namespace vok {

// Fails with IncompatibleDimensions when the dimensions differ, then with ConversionNotDefined
// between two different currencies. An overflowing product or quotient, or a target factor of
// zero (which a registered unit never has), is a broken invariant: "Multiplication overflowed",
// "Division by zero", "Division overflowed".
Result<Decimal, UnitError> convert_quantity(const Decimal& value, const Unit& from, const Unit& to);

} // namespace vok
