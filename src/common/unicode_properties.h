// The Unicode version of the system, and the character properties and case mappings beyond
// utf8proc's that the `.proto` name conversions use.
//
// utf8proc provides general categories, the simple (one-to-one) case mappings and normalisation.
// Two derived properties need more than the general category (Alphabetic adds Other_Alphabetic:
// combining vowel signs, circled letters and the like; Uppercase adds Other_Uppercase: Roman
// numerals, circled and squared capitals), the full upper-case mapping turns some characters into
// several ("ß" into "SS", "ﬁ" into "FI"), and lowercasing needs Cased and Case_Ignorable
// (unicode_case.h). Those come from tables generated from the Unicode Character Database by
// scripts/generate-unicode-case-tables, of the one version below: the version of the linked
// utf8proc, so that every answer about a character agrees with every other.
//
// All functions are pure and safe to call from several threads.
#pragma once

#include <string>
#include <string_view>

namespace vok {

// The Unicode version of every embedded table and of the utf8proc the system is built with.
inline constexpr std::string_view kUnicodeVersion = "15.0.0";

// Unicode Alphabetic or Numeric (general categories L*, N*, plus Other_Alphabetic).
bool is_alphanumeric(char32_t code_point);

// The Unicode Uppercase property (Lu plus Other_Uppercase).
bool is_uppercase(char32_t code_point);

// Appends the full upper-case mapping of the character (itself when it has none), UTF-8 encoded.
void append_uppercase(std::string& out, char32_t code_point);

// The first character of the full lower-case mapping (the character itself when it has none).
char32_t lowercase_first(char32_t code_point);

} // namespace vok
