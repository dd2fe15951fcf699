// Byte-level scanners behind the grammar's atomic rules.
//
// Inside an atomic rule nothing is skipped, no pair is left and nothing is tracked, so an atomic
// rule's body is observable only through where it stops. These helpers compute exactly that with
// plain loops over the bytes. Each takes [p, end) and returns the end of the match, or nullptr
// when the rule does not match at p.
#pragma once

#include <cstddef>
#include <string_view>

#include "peg/unicode_class.h"
#include "peg/utf8.h"

namespace vok::grammar::scan {

inline bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
inline bool is_hex_digit(char c) {
    return is_digit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}
inline char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Whether the text at p starts with `word`, ignoring ASCII case.
inline bool starts_with_insensitive(const char* p, const char* end, std::string_view word) {
    if (static_cast<size_t>(end - p) < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (ascii_lower(p[i]) != ascii_lower(word[i])) return false;
    return true;
}

// LETTER | NUMBER | "_", the characters that continue an identifier. Returns the character's
// length, or 0 when the character at p (p < end) is not one of them.
inline unsigned identifier_continue(const char* p, const char* end) {
    const char c = *p;
    if (static_cast<unsigned char>(c) < 0x80)
        return (is_digit(c) || c == '_' || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')) ? 1 : 0;
    const peg::DecodedChar decoded = peg::decode_utf8(p, end);
    return (peg::is_letter(decoded.code_point) || peg::is_number(decoded.code_point))
               ? decoded.length
               : 0;
}

// (LETTER | "_") ~ (LETTER | NUMBER | "_")*
inline const char* identifier(const char* p, const char* end) {
    if (p >= end) return nullptr;
    if (static_cast<unsigned char>(*p) < 0x80) {
        const char c = *p;
        if (!(c == '_' || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'))) return nullptr;
        ++p;
    } else {
        const peg::DecodedChar decoded = peg::decode_utf8(p, end);
        if (!peg::is_letter(decoded.code_point)) return nullptr;
        p += decoded.length;
    }
    while (p < end) {
        const unsigned length = identifier_continue(p, end);
        if (length == 0) break;
        p += length;
    }
    return p;
}

// ASCII_DIGIT+
inline const char* digits(const char* p, const char* end) {
    const char* start = p;
    while (p < end && is_digit(*p))
        ++p;
    return p == start ? nullptr : p;
}

// Exactly `count` ASCII digits.
inline const char* digits_exactly(const char* p, const char* end, int count) {
    for (int i = 0; i < count; ++i, ++p)
        if (p >= end || !is_digit(*p)) return nullptr;
    return p;
}

inline const char* one_of(const char* p, const char* end, char c) {
    return (p < end && *p == c) ? p + 1 : nullptr;
}

} // namespace vok::grammar::scan
