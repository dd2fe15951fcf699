// The rule engine's parse road, the oracle of the compact parser's differential tests: the rule
// engine from `program` (full pair tree, attempt tracking on failure), then the syntax-tree
// builder. Everything a caller sees of a parse is rendered as one text, so two roads compare as
// two strings.
#pragma once

#include <string>
#include <string_view>

#include "formatter/printer.h"
#include "parser/ast_json.h"
#include "parser/parse_source.h"

namespace vok::oracle {

// The rule engine's result for `source`.
inline ParseResult<Ast> parse_source(std::string_view source) {
    auto tree = grammar::DslParser::parse(grammar::Rule::program, source);
    if (!tree.ok()) return Err(ParserError::from_parse_failure(tree.error()));
    return build_ast(*tree);
}

// What a caller can observe of one parse: the error text, or the syntax-tree JSON followed by the
// formatted source (default layout, no comments carried over).
inline std::string observable(const ParseResult<Ast>& ast, size_t source_bytes) {
    if (!ast.ok()) return "error: " + ast.error().to_string();
    auto document = ast_to_json_document(*ast, ast_json_limit_for(source_bytes));
    std::string out = document.ok() ? *document : "json refused: " + document.error();
    Printer printer(FormatConfig{});
    printer.print_program(*ast, {});
    auto formatted = std::move(printer).finish();
    out += "\n----\n";
    out += formatted.ok() ? *formatted : "format refused: " + formatted.error().to_string();
    return out;
}

} // namespace vok::oracle
