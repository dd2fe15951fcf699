// ErrorVariant: the shape of a subsystem's error type when it is a choice among alternatives.
//
// A subsystem declares its alternatives (plain structs carrying what their messages name) inside
// a struct that also names `Variant`, and derives its error type from ErrorVariant over it:
//
//     struct UnitErrorAlternatives {
//         struct UnitNotFound { std::string symbol; };
//         ...
//         using Variant = std::variant<UnitNotFound, ...>;
//     };
//     struct UnitError : ErrorVariant<UnitErrorAlternatives> {
//         using ErrorVariant::ErrorVariant;
//         std::string to_string() const;   // the only place the subsystem's texts live
//     };
//
// The alternatives stay reachable as `UnitError::UnitNotFound`, an error converts implicitly from
// any alternative (so `return Err(UnitError::UnitNotFound{symbol});` reads well), and callers ask
// `is<A>()` / `as<A>()` or switch on `kind()` (the alternative's position) instead of comparing texts.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>
#include <variant>

namespace vok {

template <class Alternatives> struct ErrorVariant : Alternatives {
    using Variant = typename Alternatives::Variant;

    template <class Alternative,
              class = std::enable_if_t<std::is_constructible_v<Variant, Alternative&&>>>
    ErrorVariant(Alternative&& alternative) // NOLINT: an alternative is an error
        : variant(std::forward<Alternative>(alternative)) {}

    // The position of the alternative held, in the order of `Variant`.
    std::size_t kind() const { return variant.index(); }

    template <class Alternative> bool is() const {
        return std::holds_alternative<Alternative>(variant);
    }
    // The alternative held; asking for another one is a broken invariant (std::bad_variant_access).
    template <class Alternative> const Alternative& as() const {
        return std::get<Alternative>(variant);
    }

    Variant variant;
};

} // namespace vok
