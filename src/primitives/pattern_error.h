// PatternError: why a pattern could not be made.
//
// The only refusal among the records: a pattern whose expression does not compile. `to_string` is
// the only place the text lives ("Invalid regex for pattern 'Sku': " and the regular-expression
// library's message); the lowering quotes it as a grammar error, the binding as a ValueError.
#pragma once

#include <string>
#include <variant>

#include "common/error_variant.h"

namespace vok {

struct PatternErrorAlternatives {
    struct InvalidRegex {
        std::string pattern_name;
        std::string library_message;
    };

    using Variant = std::variant<InvalidRegex>;
};

struct PatternError : ErrorVariant<PatternErrorAlternatives> {
    using ErrorVariant::ErrorVariant;

    std::string to_string() const;
};

} // namespace vok
