// The Unicode character properties and case mappings that the `.proto` name conversions use.
//
// utf8proc provides general categories and the simple (one-to-one) case mappings. Two derived
// properties need more than the general category (Alphabetic adds Other_Alphabetic: combining
// vowel signs, circled letters and the like; Uppercase adds Other_Uppercase: Roman numerals,
// circled and squared capitals), and the full upper-case mapping turns some characters into
// several ("ß" into "SS", "ﬁ" into "FI"). Those three come from tables of Unicode 15.0, the
// version of the utf8proc this is built with, so that all answers agree with one another.
//
// All functions are pure and safe to call from several threads.
#pragma once

#include <string>
#include <string_view>

namespace vok::projection {

// Unicode Alphabetic or Numeric (general categories L*, N*, plus Other_Alphabetic).
bool is_alphanumeric(char32_t code_point);

// The Unicode Uppercase property (Lu plus Other_Uppercase).
bool is_uppercase(char32_t code_point);

// Appends the full upper-case mapping of the character (itself when it has none), UTF-8 encoded.
void append_uppercase(std::string& out, char32_t code_point);

// The first character of the full lower-case mapping (the character itself when it has none).
char32_t lowercase_first(char32_t code_point);

// The full lower-case mapping of the text. Each character is mapped on its own; bytes that are
// not UTF-8 are kept as they are.
std::string to_lowercase(std::string_view text);

// Appends the character UTF-8 encoded.
void append_utf8(std::string& out, char32_t code_point);

// Reads the character at `pos` of UTF-8 `text` and advances `pos` past it. A byte that does not
// start a well-formed sequence is read alone, as U+FFFD, so every input can be walked.
char32_t next_code_point(std::string_view text, size_t& pos);

} // namespace vok::projection
