// Token readers: values out of single parse-tree nodes of the lexical rules.
//
// Names, string literals with their escapes, multi-line strings, integers of two widths, exact
// decimals, annotation values and object literals. Every failure is a ParserError that ends the
// build that called the reader; messages quote the node's text exactly.
#pragma once

#include <cstdint>
#include <string>

#include "common/result.h"
#include "decimal/decimal.h"
#include "parser/grammar/dsl_parser.h"
#include "parser/parser_error.h"
#include "json/value.h"

namespace vok {

template <class T> using ParseResult = Result<T, ParserError>;

std::string pair_text(const grammar::DslPair& pair);
// Full Unicode lowercase mapping.
std::string pair_text_lowercased(const grammar::DslPair& pair);

ParseResult<std::string> build_name(const grammar::DslPair& pair);
// A double-quoted literal decoded as a JSON string (its escapes resolved).
ParseResult<std::string> parse_string_literal(const grammar::DslPair& pair);
// A triple-quoted string: its body exactly as written.
ParseResult<std::string> parse_multiline_string(const grammar::DslPair& pair);
ParseResult<int32_t> parse_number(const grammar::DslPair& pair);
ParseResult<int64_t> parse_integer(const grammar::DslPair& pair);
ParseResult<Decimal> parse_decimal(const grammar::DslPair& pair);
ParseResult<json::Value> annotation_value_to_json(const grammar::DslPair& pair);
ParseResult<json::Value> build_object_literal(const grammar::DslPair& pair);

// Decimal to the double that number literals hold; refuses a non-finite result.
ParseResult<double> decimal_to_finite_f64(const Decimal& d, bool with_value_in_message);

} // namespace vok
