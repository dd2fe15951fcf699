// A registry pattern read as one gitignore-style line, for listing a project's files.
//
// Listing uses each pattern on its own, the way an ignore-file whitelist reads it: a pattern
// without "/" (other than a trailing one) matches a file name at any depth, a leading "/"
// anchors it at the root, a trailing "/" restricts it to directories, "*" and "?" stop at "/",
// and the lone pattern "*" means the files directly in the root. A line starting with "!" is an
// exclusion and one starting with "#" a comment; neither selects any file (a leading backslash
// makes "!" and "#" ordinary characters).
#pragma once

#include <string>
#include <string_view>

#include "common/result.h"
#include "file_match/glob.h"

namespace vok::file_match {

class WalkPattern {
public:
    enum class Role {
        Select,  // files that match are listed
        Exclude, // directories that match are not entered; nothing is listed
        Inert,   // comments and blank lines: nothing is listed
    };

    // The error is the text of a glob error ("error parsing glob '<line>': ...") or the regex
    // engine's text.
    static Result<WalkPattern, std::string> compile(std::string_view line);

    Role role() const { return role_; }

    // Whether `relative` (a "/"-separated path below the walk's root, UTF-8 text) matches.
    bool matches(std::string_view relative, bool is_dir) const;

private:
    Role role_ = Role::Inert;
    bool only_directories_ = false;
    GlobSet glob_;
};

} // namespace vok::file_match
