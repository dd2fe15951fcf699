// Message texts of FormatError; see format_error.h.
#include "formatter/format_error.h"

namespace vok {

namespace {

struct MessageWriter {
    std::string operator()(const FormatError::Parse& e) const {
        return "Parse error: " + e.parser_message;
    }
    std::string operator()(const FormatError::OutputTooLarge& e) const {
        return "Formatted source too large: " +
               (e.bytes ? std::to_string(*e.bytes) + " bytes" : std::string("over 2^64 bytes"));
    }
};

} // namespace

std::string FormatError::to_string() const {
    return visit(MessageWriter{});
}

} // namespace vok
