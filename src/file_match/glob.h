// Glob patterns, as the namespace registry writes them, translated into RE2 regular expressions.
//
// Registry patterns follow the syntax of the common Rust glob libraries: `?` one character, `*`
// any run of characters, `**` as a whole path component any number of directories ("**/x",
// "x/**", "x/**/y", or the whole pattern), `[...]` character classes with ranges and `!` or `^`
// negation, `{a,b}` alternatives (not nested, empty alternatives dropped), and a backslash that
// escapes the next character. Two flavours exist: the registry's own matching, where `*` and `?`
// also match "/", and the gitignore-style walk, where they do not (`literal_separator`).
//
// A glob is parsed into tokens and written out as regex text that must match the whole
// candidate; a GlobSet compiles those texts once and answers "does any of them match". Candidates
// are UTF-8 text, so `?` and classes match one character.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace re2 {
class RE2;
}

namespace vok::file_match {

// Regex text equivalent to `glob`, or the glob library's description of why `glob` is invalid
// (for example "unclosed character class; missing ']'").
Result<std::string, std::string> glob_to_regex(std::string_view glob, bool literal_separator);

// The message of a glob that failed to parse: "error parsing glob '<glob>': <description>".
std::string glob_error_text(std::string_view glob, std::string_view description);

// A set of compiled regexes; a candidate matches when any member matches all of it. Copies share
// the compiled expressions, which are immutable and safe to use from several threads.
class GlobSet {
public:
    GlobSet() = default;

    // Compiles every regex text produced by glob_to_regex; the error is the regex engine's text.
    // Polls for cancellation before each.
    static Result<GlobSet, std::string> build(const std::vector<std::string>& regexes);

    bool is_match(std::string_view candidate) const;
    bool empty() const { return regexes_.empty(); }

private:
    std::vector<std::shared_ptr<const re2::RE2>> regexes_;
};

} // namespace vok::file_match
