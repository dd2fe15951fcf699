// The debugging quoting of texts; see debug_quote.h. Which characters are printable is utf8proc's
// category of each code point.
#include "common/debug_quote.h"

#include <utf8proc.h>

#include "common/hex.h"
#include "common/utf8.h"

namespace vok {

namespace {

bool needs_unicode_escape(utf8proc_int32_t cp) {
    switch (utf8proc_category(cp)) {
    case UTF8PROC_CATEGORY_CC:
    case UTF8PROC_CATEGORY_CF:
    case UTF8PROC_CATEGORY_CS:
    case UTF8PROC_CATEGORY_CO:
    case UTF8PROC_CATEGORY_CN:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
    case UTF8PROC_CATEGORY_MN:
    case UTF8PROC_CATEGORY_ME:
        return true;
    case UTF8PROC_CATEGORY_ZS:
        return cp != ' ';
    default:
        return false;
    }
}

void append_unicode_escape(std::string& out, uint32_t cp) {
    out += "\\u{";
    append_hex_number(out, cp);
    out += '}';
}

} // namespace

void append_debug_quoted(std::string& out, std::string_view text) {
    out += '"';
    size_t at = 0;
    while (at < text.size()) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c >= 0x20 && c < 0x7F) {
            if (c == '"' || c == '\\') out += '\\';
            out += static_cast<char>(c);
            ++at;
            continue;
        }
        const DecodedChar decoded = decode_utf8(text, at);
        const int32_t cp = decoded.code_point;
        if (cp == kInvalidCodePoint) {
            // Not UTF-8: show the byte itself rather than lose it.
            append_unicode_escape(out, c);
            ++at;
            continue;
        }
        switch (cp) {
        case 0:
            out += "\\0";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            if (needs_unicode_escape(cp))
                append_unicode_escape(out, static_cast<uint32_t>(cp));
            else
                out.append(text.substr(at, decoded.length));
        }
        at += decoded.length;
    }
    out += '"';
}

std::string debug_quoted(std::string_view text) {
    std::string out;
    append_debug_quoted(out, text);
    return out;
}

} // namespace vok
