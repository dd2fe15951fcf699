// UnitError: why a unit could not be found, registered or converted.
//
// One error type for the units subsystem; each alternative carries what its message names, and
// `to_string` is the only place the texts live (lowering and the policy engine quote them after
// prefixes of their own).
#pragma once

#include <string>
#include <variant>

#include "common/error_variant.h"
#include "units/dimension.h"

namespace vok {

struct UnitErrorAlternatives {
    struct UnitNotFound {
        std::string symbol;
    };
    struct IncompatibleDimensions {
        Dimension from;
        Dimension to;
    };
    // Currencies never convert into one another, whatever their factors say.
    struct ConversionNotDefined {
        std::string from_symbol;
        std::string to_symbol;
    };
    struct ZeroBaseFactor {};
    struct DuplicateUnit {
        std::string symbol;
    };

    using Variant = std::variant<UnitNotFound, IncompatibleDimensions, ConversionNotDefined,
                                 ZeroBaseFactor, DuplicateUnit>;
};

struct UnitError : ErrorVariant<UnitErrorAlternatives> {
    using ErrorVariant::ErrorVariant;

    // "Unit not found: kg", "Cannot convert between Mass and Length", ...
    std::string to_string() const;
};

} // namespace vok
