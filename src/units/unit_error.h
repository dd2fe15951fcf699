// UnitError: why a unit could not be found, registered or converted.
//
// One error type for the units subsystem; each alternative carries what its message names, and
// `to_string` is the only place the texts live (lowering and the policy engine quote them after
// prefixes of their own).
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "units/dimension.h"

namespace vok {

struct UnitError {
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

    template <class Alternative,
              class = std::enable_if_t<std::is_constructible_v<Variant, Alternative&&>>>
    UnitError(Alternative&& alternative) : variant(std::forward<Alternative>(alternative)) {}

    template <class Alternative> bool is() const {
        return std::holds_alternative<Alternative>(variant);
    }
    template <class Alternative> const Alternative& as() const {
        return std::get<Alternative>(variant);
    }

    // "Unit not found: kg", "Cannot convert between Mass and Length", ...
    std::string to_string() const;

    Variant variant;
};

} // namespace vok
