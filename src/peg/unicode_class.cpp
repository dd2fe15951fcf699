// Non-ASCII answers of the character classes, from utf8proc's general-category table.
#include "peg/unicode_class.h"

#include <utf8proc.h>

namespace vok::peg::detail {

bool is_letter_slow(int32_t code_point) {
    if (code_point < 0 || code_point > 0x10FFFF) return false;
    const utf8proc_category_t category = utf8proc_category(code_point);
    return category >= UTF8PROC_CATEGORY_LU && category <= UTF8PROC_CATEGORY_LO;
}

bool is_number_slow(int32_t code_point) {
    if (code_point < 0 || code_point > 0x10FFFF) return false;
    const utf8proc_category_t category = utf8proc_category(code_point);
    return category >= UTF8PROC_CATEGORY_ND && category <= UTF8PROC_CATEGORY_NO;
}

} // namespace vok::peg::detail
