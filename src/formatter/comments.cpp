#include "formatter/comments.h"

#include <cstdint>

#include "common/unicode_white_space.h"

namespace vok {

namespace {

// Decodes the character that starts at `text[i]` (the text is valid UTF-8) and its length.
char32_t decode_at(std::string_view text, size_t i, size_t& length) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[i + k]); };
    const uint8_t lead = byte(0);
    if (lead < 0x80 || i + 1 >= text.size()) {
        length = 1;
        return lead;
    }
    if (lead < 0xE0) {
        length = 2;
        return (char32_t(lead & 0x1F) << 6) | (byte(1) & 0x3F);
    }
    if (lead < 0xF0 && i + 2 < text.size()) {
        length = 3;
        return (char32_t(lead & 0x0F) << 12) | (char32_t(byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
    }
    if (i + 3 < text.size()) {
        length = 4;
        return (char32_t(lead & 0x07) << 18) | (char32_t(byte(1) & 0x3F) << 12) |
               (char32_t(byte(2) & 0x3F) << 6) | (byte(3) & 0x3F);
    }
    length = 1;
    return lead;
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
        while (start > 0 && (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80)
            --start;
        size_t length = 0;
        if (!is_white_space(decode_at(text, start, length))) break;
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
