// Header comments: the comment block at the top of a source file.
//
// The syntax tree keeps no comments, so the one block the formatter carries over is read from the
// raw text: the "//" lines before the first line of code, blank lines between them skipped. Each
// comment is kept without its slashes and without surrounding white space, so that the printer
// can write every comment in the one canonical shape "// text".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vok {

// The texts of the leading comment lines, in order.
std::vector<std::string> header_comments(std::string_view source);

// `text` without Unicode white space (the White_Space property) at either end.
std::string_view trim_unicode_space(std::string_view text);

} // namespace vok
