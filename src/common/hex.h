// Lowercase hexadecimal digits, as every text the system writes shows bytes and code points: JSON
// \u escapes, digests and identifiers, UUIDs, \u{...} and \x{...} escapes in messages and
// patterns; and read back, as the JSON reader's \u escapes and UUID texts are. Header-only,
// because the JSON writer and reader use it on their hot paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vok {

inline constexpr char kHexDigits[] = "0123456789abcdef";

// The value of the hex digit `c` (either case), or -1 when it is none.
constexpr int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Whether `c` is a hex digit, either case. Not written as hex_value(c) >= 0: the grammar's string
// scan calls it, and this form keeps that scan small enough for GCC to inline.
constexpr bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

// The digit of the low four bits of `value`.
constexpr char hex_digit(uint64_t value) {
    return kHexDigits[value & 0xF];
}

// Appends the two digits of `byte`.
inline void append_hex_byte(std::string& out, uint8_t byte) {
    out += hex_digit(byte >> 4);
    out += hex_digit(byte);
}

// Appends two digits for each of the `size` bytes at `bytes`.
inline void append_hex_bytes(std::string& out, const unsigned char* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i)
        append_hex_byte(out, bytes[i]);
}

// Appends `value` in as few digits as it needs ("0" for zero): the form of \u{...} escapes.
inline void append_hex_number(std::string& out, uint64_t value) {
    char digits[16];
    int count = 0;
    do {
        digits[count++] = hex_digit(value);
        value >>= 4;
    } while (value != 0);
    while (count > 0)
        out += digits[--count];
}

// Appends `value` as exactly `width` digits (at most 16), leading zeros kept.
inline void append_hex_fixed(std::string& out, uint64_t value, int width) {
    for (int shift = (width - 1) * 4; shift >= 0; shift -= 4)
        out += hex_digit(value >> shift);
}

} // namespace vok
