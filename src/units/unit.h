// Unit: a unit of measure in one dimension, with the exact factor that takes it to the dimension's
// base unit ("g" is 0.001 of "kg").
//
// A unit is a plain value: resources copy one into their record, the registry stores them by
// symbol, and conversions take two of them. The factor is an exact decimal so that conversions
// such as pounds to grams give the digits people expect (1 lb = 453.59237 g), not a float's.
#pragma once

#include <string>

#include "decimal/decimal.h"
#include "units/dimension.h"
#include "json/value.h"

namespace vok {

struct Unit {
    std::string symbol; // the registry key, case-sensitive ("kg", "mL")
    std::string name;   // a readable name ("kilogram")
    Dimension dimension;
    Decimal base_factor;   // how many base units one of this unit is
    std::string base_unit; // the symbol of the dimension's base unit

    // Note the order: the base unit comes last.
    Unit(std::string symbol, std::string name, Dimension dimension, Decimal base_factor,
         std::string base_unit);

    // Factors compare as numbers (1 equals 1.0).
    friend bool operator==(const Unit&, const Unit&) = default;
};

// The unit as a JSON object: "symbol", "name", "base_unit" as strings; "dimension" as the variant
// name ("Mass") or {"Custom": text}; "base_factor" as the decimal's text with its scale ("0.001").
json::Value unit_to_value(const Unit& unit);

} // namespace vok
