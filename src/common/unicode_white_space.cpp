#include "common/unicode_white_space.h"

#include <utf8proc.h>

namespace vok {

bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

namespace {

// The length of the White_Space character at the start of `text`, or 0 when none is there.
size_t white_space_at(std::string_view text) {
    utf8proc_int32_t c = 0;
    const utf8proc_ssize_t used =
        utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                         static_cast<utf8proc_ssize_t>(text.size()), &c);
    return used > 0 && is_white_space(static_cast<char32_t>(c)) ? static_cast<size_t>(used) : 0;
}

} // namespace

std::string_view trim_white_space(std::string_view text) {
    while (!text.empty()) {
        const size_t length = white_space_at(text);
        if (length == 0) break;
        text.remove_prefix(length);
    }
    while (!text.empty()) {
        // Every White_Space character is at most three bytes long: step back to the start of the
        // last character (continuation bytes are 10xxxxxx) and test it.
        size_t start = text.size() - 1;
        while (start > 0 && text.size() - start < 3 &&
               (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
            --start;
        const size_t length = white_space_at(text.substr(start));
        if (length == 0 || start + length != text.size()) break;
        text.remove_suffix(length);
    }
    return text;
}

} // namespace vok
