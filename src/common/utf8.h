// UTF-8, read and written in place: the one decoder, validity check and encoder that every folder
// uses.
//
// The grammar engine and the JSON reader step through their input with decode_utf8 one character
// at a time, so it is inline and branches on the lead byte only once. Input normally arrives as
// valid UTF-8, but decoding never reads past the end or missteps on a stray byte: an invalid,
// overlong, surrogate or truncated sequence counts as a single one-byte character whose code point
// is kInvalidCodePoint, which no character class accepts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vok {

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

// Decodes the character of `text` at byte `at`; requires at < text.size().
inline DecodedChar decode_utf8(std::string_view text, size_t at) {
    return decode_utf8(text.data() + at, text.data() + text.size());
}

// The length of the valid sequence at `p` (1 to 4), or 0 when none starts there. A form of its
// own rather than decode_utf8's: the JSON reader's string scan calls it for every non-ASCII
// character and only needs the length, and this one loop over the continuation bytes, with one
// range check of the code point at the end, keeps that scan measurably faster.
inline size_t utf8_sequence_length(const unsigned char* p, const unsigned char* end) {
    const unsigned char lead = p[0];
    if (lead < 0x80) return 1;
    size_t length;
    uint32_t min;
    uint32_t code_point;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80, code_point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = 0x800, code_point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = 0x10000, code_point = lead & 0x07;
    } else {
        return 0;
    }
    if (static_cast<size_t>(end - p) < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if (!detail::is_continuation(p[i])) return 0;
        code_point = (code_point << 6) | (p[i] & 0x3F);
    }
    if (code_point < min || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF))
        return 0;
    return length;
}

inline size_t utf8_sequence_length(std::string_view text, size_t at) {
    const auto* data = reinterpret_cast<const unsigned char*>(text.data());
    return utf8_sequence_length(data + at, data + text.size());
}

// Where no valid sequence starts at `at`: the length (1 to 3) of the maximal subpart of an
// ill-formed sequence there, the bytes that a lossy conversion replaces by one U+FFFD.
size_t utf8_invalid_length(std::string_view text, size_t at);

bool is_valid_utf8(std::string_view text);

// Appends `code_point` UTF-8 encoded. It must be a scalar value (at most U+10FFFF, no surrogate):
// every caller has decoded or range-checked it already, so the encoder does not check again.
inline void append_utf8(std::string& out, char32_t code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xE0 | (code_point >> 12));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code_point >> 18));
        out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

} // namespace vok
