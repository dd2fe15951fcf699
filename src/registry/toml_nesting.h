// How deeply a TOML text nests, measured before the TOML library reads it.
//
// The library makes a table for every part of a dotted key or table header and later walks and
// frees the tree it built recursively, so a key of 50,000 parts exhausts the thread's stack. It
// bounds the nesting of arrays and inline tables itself (at 256 values) but not that of keys and
// headers, and not the two combined (an inline table nested 200 deep whose keys have 200 parts
// each). This scanner follows just enough of the grammar to see where nesting happens: comments,
// the four kinds of strings (a bracket or dot inside one is text), key parts separated by dots
// with blanks around them, headers, brackets and braces.
//
// A node's level is its depth in the document's tree: the root table is level 0, `a.b = 1` puts
// table `a` at 1 and the value at 2, an array or inline table holds its values one level below
// itself, and an array of tables its tables. For values nested in arrays this is the library's
// own count, so the library's bound and this one agree there. The scanner reports the first
// node whose level goes beyond the limit.
//
// On a valid document every level is counted exactly, except that a header part that walks
// through an existing array of tables (`[a.b]` after `[[a]]`) stands for two levels, so the tree
// is at most twice as deep as the count. Invalid text is scanned on leniently; the library
// refuses it at its first error, and everything it built before that point has been counted.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace vok::registry {

// The registry reader's bound, the library's own bound for arrays and inline tables.
inline constexpr std::size_t kMaxTomlNesting = 256;

struct TomlPosition {
    std::size_t line = 1;   // from 1
    std::size_t column = 1; // in characters, from 1
};

// Where the first key part, header part, array or inline table lies deeper than `limit` levels,
// or nothing when the whole text stays within it. Linear in the text; never recursive.
std::optional<TomlPosition> find_nesting_beyond(std::string_view text, std::size_t limit);

} // namespace vok::registry
