// The front end's two runs of the grammar, with a failed run turned into a ParserError.
//
// parse_program reads a whole source file (rule `program`, start to end of input); parse_expression
// a lone expression (rule `expression`, which neither skips leading whitespace nor requires the
// whole text to be consumed). They sit above the grammar library because the error they report is
// the whole front end's.
//
// The returned tree borrows `text`: keep the text alive while the tree or its pairs are in use.
#pragma once

#include <string_view>

#include "common/result.h"
#include "parser/grammar/dsl_parser.h"
#include "parser/parser_error.h"

namespace vok {

// A whole source file, from rule `program`; `sink` as in DslParser::parse_program.
Result<grammar::DslTree, ParserError> parse_program(std::string_view text,
                                                    grammar::DeclarationSink* sink = nullptr);
// A lone expression, from rule `expression`.
Result<grammar::DslTree, ParserError> parse_expression(std::string_view text);

} // namespace vok
