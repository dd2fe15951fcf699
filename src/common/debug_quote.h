// The debugging form of a text: between double quotes, with a backslash before a double quote or a
// backslash, NUL, tab, carriage return and line feed as \0, \t, \r, \n, and every character that is
// not printable (controls, format characters, separators other than the space, unassigned code
// points, combining marks) as \u{hex}. Printable non-ASCII characters and single quotes stay as
// they are. Messages that show a found string ("invalid type: string \"a\"...") and reprs use it.
#pragma once

#include <string>
#include <string_view>

namespace vok {

void append_debug_quoted(std::string& out, std::string_view text);
std::string debug_quoted(std::string_view text);

} // namespace vok
