// The grammar's runs with their failures as ParserError; see parse_tree.h.
#include "parser/parse_tree.h"

namespace vok {

namespace {

Result<grammar::DslTree, ParserError> parse_from(grammar::Rule start, std::string_view text) {
    auto result = grammar::DslParser::parse(start, text);
    if (!result.ok()) return Err(ParserError::from_parse_failure(result.error()));
    return std::move(result).value();
}

} // namespace

Result<grammar::DslTree, ParserError> parse_program(std::string_view text,
                                                    grammar::DeclarationSink* sink) {
    auto result = grammar::DslParser::parse_program(text, sink);
    if (!result.ok()) return Err(ParserError::from_parse_failure(result.error()));
    return std::move(result).value();
}

Result<grammar::DslTree, ParserError> parse_expression(std::string_view text) {
    return parse_from(grammar::Rule::expression, text);
}

} // namespace vok
