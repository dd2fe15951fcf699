// The grammar's runs with their failures as ParserError; see parse_tree.h.
#include "parser/parse_tree.h"

namespace vok {

namespace {

Result<DslTree, ParserError> parse_from(Rule start, std::string_view text) {
    auto result = DslParser::parse(start, text);
    if (!result.ok()) return Err(ParserError::from_parse_failure(result.error()));
    return std::move(result).value();
}

} // namespace

Result<DslTree, ParserError> parse_program(std::string_view text) {
    auto result = DslParser::parse_program(text);
    if (!result.ok()) return Err(ParserError::from_parse_failure(result.error()));
    return std::move(result).value();
}

Result<DslTree, ParserError> parse_expression(std::string_view text) {
    return parse_from(Rule::expression, text);
}

} // namespace vok
