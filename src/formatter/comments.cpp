// Reading the header comment block of a source file; see comments.h. Works on the raw text (the
// syntax tree keeps no comments), decoding UTF-8 only to trim Unicode white space.
#include "formatter/comments.h"

#include <cstdint>

#include "common/unicode_white_space.h"

namespace vok {

namespace {

// Stands for a byte that starts no valid character: never white space, so trimming keeps it.
constexpr char32_t kNotACharacter = 0xFFFD;

// Decodes the character that starts at `text[i]` and its length. Source text handed in from C++
// need not be valid UTF-8; a byte that starts no well-formed sequence is one character of its own.
char32_t decode_at(std::string_view text, size_t i, size_t& length) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[i + k]); };
    const uint8_t lead = byte(0);
    length = 1;
    if (lead < 0x80) return lead;
    const size_t size = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (size == 0 || i + size > text.size()) return kNotACharacter;
    char32_t value = lead & (0x7F >> size);
    for (size_t k = 1; k < size; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return kNotACharacter;
        value = (value << 6) | (byte(k) & 0x3F);
    }
    length = size;
    return value;
}

} // namespace

std::string_view trim_unicode_space(std::string_view text) {
    while (!text.empty()) {
        size_t length = 0;
        if (!is_white_space(decode_at(text, 0, length))) break;
        text.remove_prefix(length);
    }
    while (!text.empty()) {
        size_t start = text.size() - 1;
        for (int back = 0;
             back < 3 && start > 0 && (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80; ++back)
            --start;
        size_t length = 0;
        char32_t last = decode_at(text, start, length);
        // Continuation bytes that the sequence before them does not take are characters alone.
        if (start + length != text.size()) {
            start = text.size() - 1;
            last = kNotACharacter;
        }
        if (!is_white_space(last)) break;
        text.remove_suffix(text.size() - start);
    }
    return text;
}

std::vector<std::string> header_comments(std::string_view source) {
    std::vector<std::string> comments;
    while (!source.empty()) {
        size_t end = source.find('\n');
        std::string_view line = source.substr(0, end);
        source = end == std::string_view::npos ? std::string_view() : source.substr(end + 1);
        std::string_view trimmed = trim_unicode_space(line);
        if (trimmed.empty()) continue;
        if (!trimmed.starts_with("//")) break;
        comments.emplace_back(trim_unicode_space(trimmed.substr(2)));
    }
    return comments;
}

} // namespace vok
