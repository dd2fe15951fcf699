// format_program and is_formatted; see format_program.h. Parses with parse_source, carries the
// header comments over (comments.h) and prints with the Printer.
#include "formatter/format_program.h"

#include "formatter/comments.h"
#include "formatter/printer.h"
#include "parser/parse_source.h"

namespace vok {

Result<std::string, FormatError> format_program(std::string_view source,
                                                const FormatConfig& config) {
    std::vector<std::string> comments;
    if (config.preserve_comments) comments = header_comments(source);
    auto ast = parse_source(source);
    if (!ast.ok()) return Err(FormatError::Parse{ast.error().to_string()});
    Printer printer(config);
    printer.print_program(*ast, comments);
    return std::move(printer).finish();
}

Result<bool, FormatError> is_formatted(std::string_view source, uint64_t indent_width,
                                       bool use_tabs) {
    FormatConfig config;
    config.indent_width = indent_width;
    config.use_tabs = use_tabs;
    auto formatted = format_program(source, config);
    if (formatted.ok()) return *formatted == source;
    // A layout too large to hold is certainly not the text that was given.
    if (formatted.error().kind() == FormatError::Kind::OutputTooLarge) return false;
    return Err(std::move(formatted).error());
}

} // namespace vok
