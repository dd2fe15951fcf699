// The Unicode character classes that grammars name: LETTER (general category L) and NUMBER
// (general category N).
//
// ASCII is answered inline because identifiers are overwhelmingly ASCII; everything else asks
// utf8proc's read-only tables, which makes the test safe to run on several threads at once.
#pragma once

#include <cstdint>

namespace vok::peg {

namespace detail {
bool is_letter_slow(int32_t code_point);
bool is_number_slow(int32_t code_point);
} // namespace detail

// Lu, Ll, Lt, Lm, Lo.
inline bool is_letter(int32_t code_point) {
    if (code_point < 0x80)
        return (code_point | 0x20) >= 'a' && (code_point | 0x20) <= 'z' && code_point >= 0;
    return detail::is_letter_slow(code_point);
}

// Nd, Nl, No.
inline bool is_number(int32_t code_point) {
    if (code_point < 0x80) return code_point >= '0' && code_point <= '9';
    return detail::is_number_slow(code_point);
}

} // namespace vok::peg
