// Full lowercasing with the Final_Sigma rule; relies on utf8proc for the simple mappings and on the
// generated property tables for the sigma context.
#include "common/unicode_case.h"

#include <algorithm>
#include <cstdint>

#include "common/ascii.h"
#include "common/code_point_ranges.h"
#include "common/unicode_properties.h"
#include "common/utf8.h"

#include "common/cancellation.h"

namespace vok {

namespace {

#include "common/unicode_case_tables.inc"

// The lookups are binary searches: the tables must stay sorted and free of overlaps.
static_assert(ascending(kCasedRanges) && ascending(kCaseIgnorableRanges));

constexpr char32_t kCapitalSigma = 0x3A3;

// Whether a cased letter follows `offset`, after any case-ignorable characters.
bool cased_letter_follows(std::string_view text, size_t offset) {
    while (offset < text.size()) {
        const DecodedChar next = decode_utf8(text, offset);
        if (next.code_point == kInvalidCodePoint) return false;
        const auto c = static_cast<char32_t>(next.code_point);
        if (!is_case_ignorable(c)) return is_cased(c);
        offset += next.length;
    }
    return false;
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
            // A run of ASCII, up to the next poll: lowered in one pass (names are mostly ASCII).
            const size_t run_end = std::min(text.size(), next_poll);
            size_t end = offset + 1;
            while (end < run_end && static_cast<unsigned char>(text[end]) < 0x80)
                ++end;
            const size_t at = out.size();
            out.append(text.data() + offset, end - offset);
            for (size_t k = at; k < out.size(); ++k)
                out[k] = ascii_lower(out[k]);
            // The sigma context after the run: set by its last character that is not
            // case-ignorable, if any.
            for (size_t k = end; k > offset; --k) {
                const char a = text[k - 1];
                if (a != '\'' && a != '.' && a != ':' && a != '^' && a != '`') {
                    after_cased = is_cased(static_cast<char32_t>(a));
                    break;
                }
            }
            offset = end;
            continue;
        }
        const DecodedChar step = decode_utf8(text, offset);
        if (step.code_point == kInvalidCodePoint) {
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
            append_utf8(out, lowercase_first(code_point));
        }
        if (!is_case_ignorable(code_point)) after_cased = is_cased(code_point);
        offset += step.length;
    }
    return out;
}

} // namespace vok
