// Converting a quantity from one unit to another of the same dimension.
//
// Conversion goes through the dimension's base unit: value × from.factor ÷ to.factor, in exact
// decimal arithmetic, multiplication first. Units are passed in, never looked up, so the caller
// decides which registry (or which stand-alone units) a conversion uses.
//
// Two entry points differ only in what an arithmetic failure becomes. Where the caller controls
// neither the value nor the units (policy evaluation over user data), `try_convert_quantity`
// reports it as a ConversionError; `convert_quantity` treats it as a broken invariant.
#pragma once

#include <string>
#include <variant>

#include "common/error_variant.h"
#include "common/result.h"
#include "decimal/decimal.h"
#include "units/unit.h"
#include "units/unit_error.h"

namespace vok {

struct ConversionErrorAlternatives {
    // The product or quotient left the decimal range, or the target factor was zero.
    struct ArithmeticFailed {
        DecimalOperation operation;
        DecimalArithmeticError error;
    };
    using Variant = std::variant<UnitError, ArithmeticFailed>;
};

struct ConversionError : ErrorVariant<ConversionErrorAlternatives> {
    using ErrorVariant::ErrorVariant;

    // The unit error's own text, or "Multiplication overflowed", "Division overflowed",
    // "Division by zero".
    std::string to_string() const;
};

// Fails with IncompatibleDimensions when the dimensions differ, then with ConversionNotDefined
// between two different currencies, then with ArithmeticFailed when the product or quotient does
// not fit (or the target factor is zero, which a registered unit never has).
Result<Decimal, ConversionError> try_convert_quantity(const Decimal& value, const Unit& from,
                                                      const Unit& to);

// The same, with an arithmetic failure as a broken invariant: "Multiplication overflowed",
// "Division by zero", "Division overflowed".
Result<Decimal, UnitError> convert_quantity(const Decimal& value, const Unit& from, const Unit& to);

} // namespace vok
