// The debugging quoting of texts; see debug_quote.h. Which characters are printable is utf8proc's
// category of each code point.
#include "common/debug_quote.h"

#include <utf8proc.h>

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
    static const char hex[] = "0123456789abcdef";
    char buf[8];
    int n = 0;
    do {
        buf[n++] = hex[cp & 0xF];
        cp >>= 4;
    } while (cp != 0);
    out += "\\u{";
    while (n > 0)
        out += buf[--n];
    out += '}';
}

} // namespace

void append_debug_quoted(std::string& out, std::string_view text) {
    out += '"';
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
    while (left > 0) {
        unsigned char c = *p;
        if (c >= 0x20 && c < 0x7F) {
            if (c == '"' || c == '\\') out += '\\';
            out += static_cast<char>(c);
            ++p, --left;
            continue;
        }
        utf8proc_int32_t cp;
        utf8proc_ssize_t len = utf8proc_iterate(p, left, &cp);
        if (len <= 0) {
            // Not UTF-8: show the byte itself rather than lose it.
            append_unicode_escape(out, c);
            ++p, --left;
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
                out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(len));
        }
        p += len, left -= len;
    }
    out += '"';
}

std::string debug_quoted(std::string_view text) {
    std::string out;
    append_debug_quoted(out, text);
    return out;
}

} // namespace vok
