// Full Unicode lowercasing, as names and keywords of the language and lookup keys are compared.
//
// The mapping is the full lowercase mapping of the Unicode Character Database: the simple mapping
// of each character (utf8proc), U+0130 to "i" followed by U+0307 (the one unconditional mapping to
// two characters), and the Final_Sigma context rule, under which a capital sigma that ends a word
// (a cased letter before it, none after it, case-ignorable characters skipped both ways) becomes
// the final form U+03C2 instead of U+03C3. Language-specific rules (Lithuanian, Turkish, Azeri) do
// not apply.
//
// Cased and Case_Ignorable come from a table generated from the Unicode Character Database and
// committed (unicode_case_tables.inc, scripts/generate-unicode-case-tables); the simple mappings
// from utf8proc. Both are of the one Unicode version kUnicodeVersion (unicode_properties.h).
#pragma once

#include <string>
#include <string_view>

namespace vok {

// `text` lowercased. Bytes that are not valid UTF-8 are copied unchanged, one at a time. Polls for
// cancellation as it goes, so text of any length can be stopped.
std::string lowercase_text(std::string_view text);

// The Cased property, for characters that are not also case-ignorable (for those it never matters).
bool is_cased(char32_t code_point);
bool is_case_ignorable(char32_t code_point);

} // namespace vok
