// Looking at eight bytes of text at once, for the loops that skip plain runs of string text.
//
// Each test sets the high bit of a byte of its result where the byte matches; bytes above a match
// may be flagged too, so callers treat a flagged word as "look at these bytes one by one" and
// never skip a word that is flagged. A word with no flag has no match.
#pragma once

#include <cstdint>
#include <cstring>

namespace vok::json::byte_scan {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHigh = 0x8080808080808080ull;

inline uint64_t load(const unsigned char* p) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
}

// Bytes equal to `byte`.
inline uint64_t equal_to(uint64_t word, unsigned char byte) {
    const uint64_t x = word ^ (kOnes * byte);
    return (x - kOnes) & ~x & kHigh;
}

// Bytes below `bound` (at most 0x80).
inline uint64_t below(uint64_t word, unsigned char bound) {
    return (word - kOnes * bound) & ~word & kHigh;
}

// Bytes that a JSON string cannot hold as they are: the quotation mark, the backslash and the
// control characters.
inline uint64_t needs_escape(uint64_t word) {
    return equal_to(word, '"') | equal_to(word, '\\') | below(word, 0x20);
}

} // namespace vok::json::byte_scan
