// Decoding one character of UTF-8 input in place.
//
// The grammar engine steps through its input one Unicode scalar value at a time (ANY, LETTER,
// NUMBER, column counting) without copying or converting the text. Input normally arrives as valid
// UTF-8, but the decoder must never read past the end or misstep on a stray byte: an invalid,
// overlong, surrogate or truncated sequence counts as a single one-byte character whose code point
// is kInvalidCodePoint, which no character class accepts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vok::peg {

inline constexpr int32_t kInvalidCodePoint = -1;

struct DecodedChar {
    int32_t code_point; // kInvalidCodePoint for a byte that starts no valid sequence
    uint32_t length;    // bytes consumed, 1 to 4; never 0
};

namespace detail {
inline bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}
} // namespace detail

// Decodes the character at `p`; requires p < end.
inline DecodedChar decode_utf8(const unsigned char* p, const unsigned char* end) {
    const unsigned char b0 = p[0];
    if (b0 < 0x80) return {b0, 1};
    const std::ptrdiff_t available = end - p;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        if (available >= 2 && detail::is_continuation(p[1]))
            return {static_cast<int32_t>(((b0 & 0x1F) << 6) | (p[1] & 0x3F)), 2};
        return {kInvalidCodePoint, 1};
    }
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (available < 3) return {kInvalidCodePoint, 1};
        const unsigned char b1 = p[1];
        // E0 needs A0..BF (no overlong forms), ED needs 80..9F (no surrogates).
        const unsigned char lo = b0 == 0xE0 ? 0xA0 : 0x80;
        const unsigned char hi = b0 == 0xED ? 0x9F : 0xBF;
        if (b1 < lo || b1 > hi || !detail::is_continuation(p[2])) return {kInvalidCodePoint, 1};
        return {static_cast<int32_t>(((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (p[2] & 0x3F)), 3};
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (available < 4) return {kInvalidCodePoint, 1};
        const unsigned char b1 = p[1];
        const unsigned char lo = b0 == 0xF0 ? 0x90 : 0x80;
        const unsigned char hi = b0 == 0xF4 ? 0x8F : 0xBF;
        if (b1 < lo || b1 > hi || !detail::is_continuation(p[2]) || !detail::is_continuation(p[3]))
            return {kInvalidCodePoint, 1};
        return {static_cast<int32_t>(((b0 & 0x07) << 18) | ((b1 & 0x3F) << 12) |
                                     ((p[2] & 0x3F) << 6) | (p[3] & 0x3F)),
                4};
    }
    return {kInvalidCodePoint, 1};
}

inline DecodedChar decode_utf8(const char* p, const char* end) {
    return decode_utf8(reinterpret_cast<const unsigned char*>(p),
                       reinterpret_cast<const unsigned char*>(end));
}

} // namespace vok::peg
