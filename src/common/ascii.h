// ASCII case: the one lowercaser and case-insensitive comparison for the language's keywords and
// fixed words (^"in", unit and window words, dimension names, proto reserved words, primitive
// types). Only A-Z change; every other byte, UTF-8 included, compares as itself. Full Unicode
// lowercasing is a different mapping (common/unicode_case.h).
//
// Header-only and constexpr: the grammar and the rule engine compare keywords with these in their
// inner loops. The prefix comparison is always inlined, as the rule engine's literal matches
// around it are: left to itself, GCC makes it a call in some of the engine's rules.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vok {

constexpr char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// `text` with A-Z lowered.
inline std::string ascii_lowercase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = ascii_lower(c);
    return out;
}

__attribute__((always_inline)) constexpr bool
starts_with_ignoring_ascii_case(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (ascii_lower(text[i]) != ascii_lower(prefix[i])) return false;
    return true;
}

constexpr bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && starts_with_ignoring_ascii_case(a, b);
}

} // namespace vok
