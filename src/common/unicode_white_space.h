// The Unicode White_Space property, for splitting and trimming text the way users see blanks.
//
// White_Space holds 25 code points: U+0009 to U+000D, U+0020, U+0085, U+00A0, U+1680, U+2000 to
// U+200A, U+2028, U+2029, U+202F, U+205F and U+3000. The list has not changed since Unicode 6.3
// (when U+180E left it), so it is written out here rather than generated. Zero-width characters
// (U+200B, U+FEFF) and the information separators U+001C to U+001F are not among them.
#pragma once

namespace vok {

constexpr bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

} // namespace vok
