// Unicode White_Space: the 25 code points that carry the property, and trimming them from a text.
//
// Several texts of the system are "blank" when nothing but white space remains, and what counts as
// white space there is the Unicode property, not ASCII's six bytes: a no-break space or an
// ideographic space alone is blank too. Texts are UTF-8; a byte that does not start a valid
// character ends the trimming on that side, so invalid input is kept, never misread.
#pragma once

#include <string_view>

namespace vok {

bool is_white_space(char32_t c);

// `text` without White_Space characters at either end.
std::string_view trim_white_space(std::string_view text);

} // namespace vok
