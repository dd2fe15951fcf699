// Full lowercasing with the Final_Sigma rule; relies on utf8proc for the simple mappings and on the
// generated property tables for the sigma context.
#include "common/unicode_case.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "common/cancellation.h"

namespace vok {

namespace {

struct CodePointRange {
    char32_t first;
    char32_t last;
};

#include "common/unicode_case_tables.inc"

template <size_t N> bool in_ranges(const CodePointRange (&ranges)[N], char32_t code_point) {
    const auto* after =
        std::upper_bound(std::begin(ranges), std::end(ranges), code_point,
                         [](char32_t c, const CodePointRange& range) { return c < range.first; });
    return after != std::begin(ranges) && code_point <= std::prev(after)->last;
}

constexpr char32_t kCapitalSigma = 0x3A3;

// The next character of `text` from `offset`: its code point, or -1 for a byte that starts no
// valid UTF-8 sequence, and its length in bytes.
struct Step {
    int32_t code_point;
    size_t length;
};

Step step_at(std::string_view text, size_t offset) {
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(text.data() + offset);
    const auto byte = *p;
    if (byte < 0x80) return {byte, 1};
    utf8proc_int32_t code_point = 0;
    const utf8proc_ssize_t length =
        utf8proc_iterate(p, static_cast<utf8proc_ssize_t>(text.size() - offset), &code_point);
    if (length <= 0) return {-1, 1};
    return {code_point, static_cast<size_t>(length)};
}

// Whether a cased letter follows `offset`, after any case-ignorable characters.
bool cased_letter_follows(std::string_view text, size_t offset) {
    while (offset < text.size()) {
        const Step next = step_at(text, offset);
        if (next.code_point < 0) return false;
        const auto c = static_cast<char32_t>(next.code_point);
        if (!is_case_ignorable(c)) return is_cased(c);
        offset += next.length;
    }
    return false;
}

void append_utf8(std::string& out, int32_t code_point) {
    utf8proc_uint8_t buffer[4];
    const utf8proc_ssize_t n = utf8proc_encode_char(code_point, buffer);
    out.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
}

} // namespace

bool is_cased(char32_t code_point) {
    if (code_point < 0x80) return (code_point | 0x20) >= 'a' && (code_point | 0x20) <= 'z';
    return in_ranges(kCasedRanges, code_point);
}

bool is_case_ignorable(char32_t code_point) {
    return in_ranges(kCaseIgnorableRanges, code_point);
}

std::string lowercase_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    // Whether a cased letter precedes the current character, case-ignorable ones skipped: the
    // backward half of Final_Sigma, kept up to date as the scan moves on.
    bool after_cased = false;
    size_t offset = 0;
    // Polled once per kilobyte of text rather than per character, which keeps the ASCII path a
    // plain loop; the output is dropped when the caller stops.
    size_t next_poll = 0;
    while (offset < text.size()) {
        if (offset >= next_poll) {
            poll_cancellation();
            next_poll = offset + 1024;
        }
        const char c = text[offset];
        if (static_cast<unsigned char>(c) < 0x80) {
            out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            if (c != '\'' && c != '.' && c != ':' && c != '^' && c != '`')
                after_cased = is_cased(static_cast<char32_t>(c));
            ++offset;
            continue;
        }
        const Step step = step_at(text, offset);
        if (step.code_point < 0) {
            out += c;
            after_cased = false;
            ++offset;
            continue;
        }
        const auto code_point = static_cast<char32_t>(step.code_point);
        if (code_point == 0x130) {
            out += "i\xCC\x87";
        } else if (code_point == kCapitalSigma) {
            const bool final_form =
                after_cased && !cased_letter_follows(text, offset + step.length);
            append_utf8(out, final_form ? 0x3C2 : 0x3C3);
        } else {
            append_utf8(out, utf8proc_tolower(step.code_point));
        }
        if (!is_case_ignorable(code_point)) after_cased = is_cased(code_point);
        offset += step.length;
    }
    return out;
}

} // namespace vok
