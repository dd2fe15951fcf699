// Path text helpers of file matching and of the namespace registry that builds on it.
//
// File paths are byte strings on this platform while namespaces, patterns and messages are UTF-8
// text. These helpers are the few places where the two meet: showing a path as text (invalid
// bytes become U+FFFD), splitting a path into its components, ordering paths component by
// component, resolving a path, and rendering an operating-system error the way the registry's
// messages show it.
#pragma once

#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/result.h"
#include "common/utf8.h" // is_valid_utf8, the check beside lossy_utf8

namespace vok::file_match {

// `bytes` as valid UTF-8: every maximal invalid subsequence is replaced by one U+FFFD.
std::string lossy_utf8(std::string_view bytes);

// The components of a "/"-separated path, without empty and "." components; the root of an
// absolute path is not a component ("/a/./b/" gives "a", "b").
std::vector<std::string_view> path_components(std::string_view path);

// Orders paths component by component, each compared byte-wise, a path that is a leading part of
// another first: "a/z.vok" sorts before "a.txt" because "a" is a prefix of "a.txt".
bool path_components_less(std::string_view left, std::string_view right);

// The absolute path of `path` with every symbolic link, "." and ".." resolved (the system's
// realpath), or the system's error; a path holding a NUL byte names no file (EINVAL).
Result<std::string, std::error_code> canonical_path(const std::string& path);

// "<system text> (os error <number>)" for an errno-based error; the bare message otherwise.
std::string os_error_text(const std::error_code& error);

} // namespace vok::file_match
