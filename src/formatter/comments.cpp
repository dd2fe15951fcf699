// Reading the header comment block of a source file; see comments.h. Works on the raw text (the
// syntax tree keeps no comments), decoding UTF-8 only to trim Unicode white space.
#include "formatter/comments.h"

#include <cstdint>

#include "common/unicode_white_space.h"
#include "common/utf8.h"

namespace vok {

namespace {

// Whether the character at byte `at` of `text` is white space, and its length. A byte that starts
// no valid sequence is a character of its own (source text handed in from C++ need not be valid
// UTF-8) and never white space, so trimming keeps it.
bool white_space_at(std::string_view text, size_t at, size_t& length) {
    const DecodedChar decoded = decode_utf8(text, at);
    length = decoded.length;
    return decoded.code_point != kInvalidCodePoint &&
           is_white_space(static_cast<char32_t>(decoded.code_point));
}

} // namespace

std::string_view trim_unicode_space(std::string_view text) {
    size_t length = 0;
    while (!text.empty() && white_space_at(text, 0, length))
        text.remove_prefix(length);
    while (!text.empty()) {
        size_t start = text.size() - 1;
        for (int back = 0;
             back < 3 && start > 0 && (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80; ++back)
            --start;
        // Continuation bytes that the sequence before them does not take are characters alone.
        if (!white_space_at(text, start, length) || start + length != text.size()) break;
        text.remove_suffix(length);
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
