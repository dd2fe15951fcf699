// PolicyError: why a policy could not be expanded or evaluated.
//
// The evaluators word each failure where they meet it (an operand that is no number, a unit that
// does not convert, a collection that is no list), usually with the offending value's text, and
// their callers only pass it on; so a policy error is one alternative carrying its finished text.
// It is no bigger than that text: evaluation returns a result per flow on its hot paths. A decimal
// that does not parse keeps the decimal parser's own text.
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "common/error_variant.h"
#include "decimal/decimal.h"

namespace vok {

struct PolicyErrorAlternatives {
    struct Failure {
        std::string message;
        bool operator==(const Failure&) const = default;
    };
    using Variant = std::variant<Failure>;
};

struct PolicyError : ErrorVariant<PolicyErrorAlternatives> {
    using ErrorVariant::ErrorVariant;
    // A failure worded where it happened: `return Err(PolicyError("Expected string value"));`.
    // Explicit, so that no other text (a path, a name) turns into a policy error unnoticed.
    template <class Text, class = std::enable_if_t<std::is_constructible_v<std::string, Text&&>>>
    explicit PolicyError(Text&& message)
        : ErrorVariant(Failure{std::string(std::forward<Text>(message))}) {}
    PolicyError(const DecimalParseError& error) // NOLINT: the parser's text is the error
        : PolicyError(error.to_string()) {}

    const std::string& to_string() const { return variant.message; }
};

// Results of the evaluators keep the size they had with a bare text as their error.
static_assert(sizeof(PolicyError) == sizeof(std::string));

} // namespace vok
