// ErrorVariant: the one shape of every core error type.
//
// An error is a choice among alternatives, each a plain struct carrying what its message names.
// A subsystem declares its alternatives inside a struct that also names `Variant`, and derives its
// error type from ErrorVariant over it:
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
// When callers switch over the alternatives, the struct also names a `Kind` enumeration; it and
// `Variant` are both expanded from the rows of one .def list (see VariantOfRows below), so that a
// kind's value is always its alternative's position.
//
// A "kind and message" error is the same shape: one alternative per kind, each holding its
// message. The alternatives stay reachable as `UnitError::UnitNotFound`, an error converts
// implicitly from any alternative (so `return Err(UnitError::UnitNotFound{symbol});` reads well),
// and callers ask `is<A>()` / `as<A>()` or switch on `kind()` instead of comparing texts.
//
// An error with a single alternative (a subsystem whose failures are all worded where they
// happen) stores that alternative alone, without a variant's index: such an error is no bigger
// than what it carries, so results on hot paths keep their size.
#pragma once

#include <concepts>
#include <cstddef>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace vok {

namespace error_variant_detail {

template <class Alternatives> struct KindOf { using type = std::size_t; };
template <class Alternatives>
requires requires {
    typename Alternatives::Kind;
}
struct KindOf<Alternatives> {
    using type = typename Alternatives::Kind;
};

// What an error stores: its one alternative directly, else the variant of them all.
template <class Variant> struct StorageOf { using type = Variant; };
template <class Only> struct StorageOf<std::variant<Only>> { using type = Only; };

} // namespace error_variant_detail

// The variant of the alternatives that the rows of a kind list name. The rows expand to ", Name"
// after a leading `void`, so that no row needs to know whether it is the first:
//
//     enum class Kind : uint8_t {
//     #define VOK_FORMAT_ERROR_KIND(Name) Name,
//     #include "formatter/format_error_kind.def"
//     };
//     using Variant = VariantOfRows<void
//     #define VOK_FORMAT_ERROR_KIND(Name) , Name
//     #include "formatter/format_error_kind.def"
//                                   >::type;
template <class Void, class... Alternatives> struct VariantOfRows {
    static_assert(std::is_void_v<Void>, "the rows follow a leading void");
    using type = std::variant<Alternatives...>;
};

template <class Alternatives> struct ErrorVariant : Alternatives {
    using Variant = typename Alternatives::Variant;
    // The alternatives' own enumeration when they declare one, else the position in `Variant`.
    using Kind = typename error_variant_detail::KindOf<Alternatives>::type;
    static constexpr std::size_t kKindCount = std::variant_size_v<Variant>;

    using Storage = typename error_variant_detail::StorageOf<Variant>::type;
    static constexpr bool kSingle = kKindCount == 1;

    template <class Alternative,
              class = std::enable_if_t<std::is_constructible_v<Variant, Alternative&&>>>
    ErrorVariant(Alternative&& alternative) // NOLINT: an alternative is an error
        : variant(std::forward<Alternative>(alternative)) {}

    // The alternative held, as its position in the order of `Variant`.
    Kind kind() const {
        if constexpr (kSingle)
            return static_cast<Kind>(0);
        else
            return static_cast<Kind>(variant.index());
    }

    template <class Alternative> bool is() const {
        if constexpr (kSingle) {
            static_assert(std::is_same_v<Alternative, Storage>, "not an alternative");
            return true;
        } else {
            return std::holds_alternative<Alternative>(variant);
        }
    }
    // The alternative held; asking for another one is a broken invariant (std::bad_variant_access).
    template <class Alternative> const Alternative& as() const {
        if constexpr (kSingle) {
            static_assert(std::is_same_v<Alternative, Storage>, "not an alternative");
            return variant;
        } else {
            return std::get<Alternative>(variant);
        }
    }
    // The alternative held, or null when another one is.
    template <class Alternative> const Alternative* get_if() const {
        if constexpr (kSingle) {
            static_assert(std::is_same_v<Alternative, Storage>, "not an alternative");
            return &variant;
        } else {
            return std::get_if<Alternative>(&variant);
        }
    }
    template <class Visitor> decltype(auto) visit(Visitor&& visitor) const {
        if constexpr (kSingle)
            return std::forward<Visitor>(visitor)(variant);
        else
            return std::visit(std::forward<Visitor>(visitor), variant);
    }

    friend bool operator==(const ErrorVariant& a,
                           const ErrorVariant& b) requires std::equality_comparable<Variant> {
        return a.variant == b.variant;
    }

    // The alternative held: a std::variant of them, or the only one itself.
    Storage variant;
};

// What every core error type offers: the shape above and the one function that words it.
template <class E>
concept CoreError = requires(const E& error) {
    error.kind();
    { error.to_string() } -> std::convertible_to<std::string>;
};

} // namespace vok
