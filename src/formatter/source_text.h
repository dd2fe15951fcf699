// Source text of single values: how the formatter spells strings, numbers and annotation values
// so that the grammar reads them back to exactly the values the syntax tree holds.
//
// The parser decodes string literals with five escapes only (\" \\ \n \r \t), reads numbers as
// plain decimals without an exponent and turns them into doubles through the decimal type, and
// lowercases the keys of free flow annotations. Each writer here is the inverse of one of those
// readers: quoting uses exactly those escapes, a number is written in the plain decimal text that
// converts back to the same double, and a key is written as an identifier that lowercases to it.
#pragma once

#include <string>
#include <string_view>

#include "json/value.h"

namespace vok::source_text {

// A double-quoted string literal: tab, line feed, carriage return, double quote and backslash
// escaped, every other character written as it is.
void append_quoted(std::string& out, std::string_view text);

// A string inside an expression. A string shaped exactly like a time literal would read back as a
// time, so it is written as a triple-quoted string instead (which takes its content verbatim).
void append_expression_string(std::string& out, std::string_view text);

// Plain decimal text (never an exponent) that the parser converts back to exactly `value`:
// "5.0", "0.000001", "100000000000000000000". A finite value is assumed.
std::string number_text(double value);

// An annotation or mapping-field value, compactly: strings quoted, numbers as number_text,
// booleans, string arrays ["a","b"] and object literals {"k":v,...} in source syntax.
void append_value(std::string& out, const json::Value& value);

// A projection field's property mapping: { "source" -> "target", ... } (values are strings).
void append_property_mapping(std::string& out, const json::Object& mapping);

// An identifier whose lowercase is `key` (the lowercased key of a free flow annotation).
std::string identifier_for_key(std::string_view key);

} // namespace vok::source_text
