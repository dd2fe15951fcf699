// FormatError: why a formatting run produced no text.
//
// Printing a syntax tree cannot fail, so a run fails for one of two reasons only: the source does
// not parse, or the layout asked for (an enormous indent width) would make a text too large to
// hold. The second is refused before anything that large is allocated. Every message text of the
// formatter lives in to_string().
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "common/error_variant.h"

namespace vok {

struct FormatErrorAlternatives {
    // Rows in format_error_kind.def.
    enum class Kind : uint8_t {
#define VOK_FORMAT_ERROR_KIND(Name) Name,
#include "formatter/format_error_kind.def"
    };
    struct Parse {
        std::string parser_message; // the display text of the parser's error
        bool operator==(const Parse&) const = default;
    };
    struct OutputTooLarge {
        std::optional<uint64_t> bytes; // the size the text would have had, if it fits 64 bits
        bool operator==(const OutputTooLarge&) const = default;
    };
    using Variant = VariantOfRows<void
#define VOK_FORMAT_ERROR_KIND(Name) , Name
#include "formatter/format_error_kind.def"
                                  >::type;
};

struct FormatError : ErrorVariant<FormatErrorAlternatives> {
    using ErrorVariant::ErrorVariant;

    // "Parse error: " followed by the parser's message, or the size refusal.
    std::string to_string() const;
};

} // namespace vok
