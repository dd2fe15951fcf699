// Byte-level scanners behind the grammar's atomic rules.
//
// Inside an atomic rule nothing is skipped, no pair is left and nothing is tracked, so an atomic
// rule's body is observable only through where it stops. These helpers compute exactly that with
// plain loops over the bytes. Each takes [p, end) and returns the end of the match, or nullptr
// when the rule does not match at p.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "common/ascii.h"
#include "common/hex.h"
#include "common/utf8.h"
#include "peg/unicode_class.h"

namespace vok::grammar::scan {

inline bool is_whitespace_byte(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

inline bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// LETTER | NUMBER | "_", the characters that continue an identifier. Returns the character's
// length, or 0 when the character at p (p < end) is not one of them.
inline unsigned identifier_continue(const char* p, const char* end) {
    const char c = *p;
    if (static_cast<unsigned char>(c) < 0x80)
        return (is_digit(c) || c == '_' || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')) ? 1 : 0;
    const DecodedChar decoded = decode_utf8(p, end);
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
        const DecodedChar decoded = decode_utf8(p, end);
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

// escape_sequence: "\\" ~ ("\\" | "\"" | "n" | "r" | "t" | "u{" ~ ASCII_HEX_DIGIT{1,6} ~ "}")
inline const char* scan_escape_sequence(const char* p, const char* end) {
    if (end - p < 2 || p[0] != '\\') return nullptr;
    switch (p[1]) {
    case '\\':
    case '"':
    case 'n':
    case 'r':
    case 't':
        return p + 2;
    case 'u':
        break;
    default:
        return nullptr;
    }
    if (end - p < 3 || p[2] != '{') return nullptr;
    const char* q = p + 3;
    int count = 0;
    while (count < 6 && q < end && is_hex_digit(*q)) {
        ++q;
        ++count;
    }
    if (count == 0) return nullptr;
    return scan::one_of(q, end, '}');
}

// string_content: escape_sequence | (!"\"" ~ !"\\" ~ ANY)
inline const char* scan_string_content(const char* p, const char* end) {
    if (p >= end) return nullptr;
    if (*p == '\\') return scan_escape_sequence(p, end);
    if (*p == '"') return nullptr;
    return p + decode_utf8(p, end).length;
}

// string_literal: "\"" ~ string_content* ~ "\""
inline const char* scan_string_literal(const char* p, const char* end) {
    if (p >= end || *p != '"') return nullptr;
    ++p;
    for (;;) {
        // Plain content runs up to the next quote or backslash.
        while (p < end && *p != '"' && *p != '\\')
            ++p;
        if (p >= end) return nullptr;
        if (*p == '"') return p + 1;
        const char* after_escape = scan_escape_sequence(p, end);
        // A backslash that starts no escape ends string_content*, and the closing quote is missing.
        if (after_escape == nullptr) return nullptr;
        p = after_escape;
    }
}

// multiline_string: "\"\"\"" ~ (!"\"\"\"" ~ ANY)* ~ "\"\"\""
inline const char* scan_multiline_string(const char* p, const char* end) {
    constexpr std::string_view kFence = "\"\"\"";
    const std::string_view rest(p, static_cast<size_t>(end - p));
    if (!rest.starts_with(kFence)) return nullptr;
    const size_t close = rest.find(kFence, kFence.size());
    if (close == std::string_view::npos) return nullptr;
    return p + close + kFence.size();
}

// number: "-"? ~ ASCII_DIGIT+ ~ ("." ~ ASCII_DIGIT+)?
inline const char* scan_number(const char* p, const char* end) {
    if (p < end && *p == '-') ++p;
    p = scan::digits(p, end);
    if (p == nullptr) return nullptr;
    if (p < end && *p == '.') {
        if (const char* fraction = scan::digits(p + 1, end)) return fraction;
    }
    return p;
}

// version: ASCII_DIGIT+ ~ "." ~ ASCII_DIGIT+ ~ "." ~ ASCII_DIGIT+
inline const char* scan_version(const char* p, const char* end) {
    p = scan::digits(p, end);
    for (int group = 0; group < 2 && p != nullptr; ++group) {
        p = scan::one_of(p, end, '.');
        if (p != nullptr) p = scan::digits(p, end);
    }
    return p;
}

// in_keyword: ^"in" ~ WHITESPACE+
inline const char* scan_in_keyword(const char* p, const char* end) {
    if (!starts_with_ignoring_ascii_case(std::string_view(p, end), "in")) return nullptr;
    p += 2;
    if (p >= end || !is_whitespace_byte(*p)) return nullptr;
    while (p < end && is_whitespace_byte(*p))
        ++p;
    return p;
}

inline const char* scan_identifier(const char* p, const char* end) {
    return scan::identifier(p, end);
}

// "\"" ~ ASCII_DIGIT{4} ~ "-" ~ ASCII_DIGIT{2} ~ "-" ~ ASCII_DIGIT{2} ~ "T" ~ ASCII_DIGIT{2} ~ ":"
// ~ ASCII_DIGIT{2} ~ ":" ~ ASCII_DIGIT{2} ~ ("Z" | ("+" | "-") ~ ASCII_DIGIT{2} ~ ":" ~
// ASCII_DIGIT{2}) ~ "\""
inline const char* scan_time_literal(const char* p, const char* end) {
    using scan::digits_exactly;
    using scan::one_of;
    p = one_of(p, end, '"');
    if (p) p = digits_exactly(p, end, 4);
    if (p) p = one_of(p, end, '-');
    if (p) p = digits_exactly(p, end, 2);
    if (p) p = one_of(p, end, '-');
    if (p) p = digits_exactly(p, end, 2);
    if (p) p = one_of(p, end, 'T');
    if (p) p = digits_exactly(p, end, 2);
    if (p) p = one_of(p, end, ':');
    if (p) p = digits_exactly(p, end, 2);
    if (p) p = one_of(p, end, ':');
    if (p) p = digits_exactly(p, end, 2);
    if (p == nullptr || p >= end) return nullptr;
    if (*p == 'Z') {
        ++p;
    } else if (*p == '+' || *p == '-') {
        p = digits_exactly(p + 1, end, 2);
        if (p) p = one_of(p, end, ':');
        if (p) p = digits_exactly(p, end, 2);
    } else {
        return nullptr;
    }
    return p ? one_of(p, end, '"') : nullptr;
}

// "@" ~ identifier, with no whitespace after the at sign.
inline const char* scan_instance_reference(const char* p, const char* end) {
    p = scan::one_of(p, end, '@');
    return p ? scan::identifier(p, end) : nullptr;
}

// (^"entity" | ... | ^"export") ~ !(LETTER | NUMBER | "_")
inline const char* scan_declaration_keyword(const char* p, const char* end) {
    static constexpr std::array<std::string_view, 16> kWords = {
        "entity",    "resource", "flow",          "pattern", "role",    "relation",
        "instance",  "policy",   "conceptchange", "metric",  "mapping", "projection",
        "dimension", "unit",     "import",        "export"};
    for (const std::string_view word : kWords) {
        if (!starts_with_ignoring_ascii_case(std::string_view(p, end), word)) continue;
        // The choice is never revisited: the first word that matches decides.
        const char* after = p + word.size();
        if (after < end && scan::identifier_continue(after, end) != 0) return nullptr;
        return after;
    }
    return nullptr;
}

} // namespace vok::grammar::scan
