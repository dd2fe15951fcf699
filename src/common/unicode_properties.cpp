// Tables and utf8proc calls behind unicode_properties.h.
//
// The generated tables complement utf8proc rather than repeat it: Other_Alphabetic lists only
// characters that are neither letters nor numbers by general category, so that the two sources
// never overlap; the upper-case table lists only the mappings to more than one character (the
// generator checks that every one-to-one full mapping is utf8proc's simple mapping).
#include "common/unicode_properties.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <utf8proc.h>

#include "common/code_point_ranges.h"
#include "common/utf8.h"

namespace vok {

namespace {

struct MultiUppercase {
    char32_t code_point;
    std::array<char32_t, 3> mapping; // unused places are zero
};

#include "common/unicode_property_tables.inc"

// The lookups are binary searches: the tables must stay sorted and free of overlaps.
static_assert(ascending(kOtherAlphabetic) && ascending(kOtherUppercase));

constexpr bool ascending_mappings() {
    for (size_t i = 1; i < std::size(kMultiUppercase); ++i) {
        if (kMultiUppercase[i - 1].code_point >= kMultiUppercase[i].code_point) return false;
    }
    return true;
}
static_assert(ascending_mappings());

} // namespace

bool is_alphanumeric(char32_t code_point) {
    if (code_point < 0x80) {
        return (code_point >= 'a' && code_point <= 'z') ||
               (code_point >= 'A' && code_point <= 'Z') || (code_point >= '0' && code_point <= '9');
    }
    if (code_point > 0x10FFFF) return false;
    switch (utf8proc_category(static_cast<utf8proc_int32_t>(code_point))) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
    case UTF8PROC_CATEGORY_ND:
    case UTF8PROC_CATEGORY_NL:
    case UTF8PROC_CATEGORY_NO:
        return true;
    default:
        return in_ranges(kOtherAlphabetic, code_point);
    }
}

bool is_uppercase(char32_t code_point) {
    if (code_point < 0x80) return code_point >= 'A' && code_point <= 'Z';
    if (code_point > 0x10FFFF) return false;
    if (utf8proc_category(static_cast<utf8proc_int32_t>(code_point)) == UTF8PROC_CATEGORY_LU)
        return true;
    return in_ranges(kOtherUppercase, code_point);
}

void append_uppercase(std::string& out, char32_t code_point) {
    const MultiUppercase* found = std::lower_bound(
        std::begin(kMultiUppercase), std::end(kMultiUppercase), code_point,
        [](const MultiUppercase& entry, char32_t cp) { return entry.code_point < cp; });
    if (found != std::end(kMultiUppercase) && found->code_point == code_point) {
        for (char32_t mapped : found->mapping) {
            if (mapped != 0) append_utf8(out, mapped);
        }
        return;
    }
    if (code_point > 0x10FFFF) return; // no character: nothing to write
    append_utf8(out,
                static_cast<char32_t>(utf8proc_toupper(static_cast<utf8proc_int32_t>(code_point))));
}

char32_t lowercase_first(char32_t code_point) {
    if (code_point > 0x10FFFF) return code_point;
    return static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(code_point)));
}

} // namespace vok
