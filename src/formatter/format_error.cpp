// Constructors and message texts of FormatError; see format_error.h.
#include "formatter/format_error.h"

namespace vok {

FormatError FormatError::parse(std::string parser_message) {
    return FormatError(Kind::Parse, std::move(parser_message), std::nullopt);
}

FormatError FormatError::output_too_large(std::optional<uint64_t> bytes) {
    return FormatError(Kind::OutputTooLarge, std::string(), bytes);
}

std::string FormatError::to_string() const {
    switch (kind_) {
    case Kind::Parse:
        return "Parse error: " + message_;
    case Kind::OutputTooLarge:
        return "Formatted source too large: " +
               (bytes_ ? std::to_string(*bytes_) + " bytes" : std::string("over 2^64 bytes"));
    }
    return message_;
}

} // namespace vok
