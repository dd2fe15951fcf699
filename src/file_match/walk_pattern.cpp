// Gitignore-style reading of one registry pattern; see walk_pattern.h.
#include "file_match/walk_pattern.h"

namespace vok::file_match {

namespace {

bool is_trailing_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool ends_with(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

} // namespace

Result<WalkPattern, std::string> WalkPattern::compile(std::string_view line) {
    WalkPattern pattern;
    // Alone, "*" would match every file name at any depth; the registry means the root's files.
    if (line == "*") line = "/*";
    if (starts_with(line, "#")) return pattern;
    // Trailing blanks are insignificant unless the last one is escaped.
    if (!ends_with(line, "\\ ")) {
        while (!line.empty() && is_trailing_space(line.back()))
            line.remove_suffix(1);
    }
    if (line.empty()) return pattern;
    const std::string_view original = line;

    pattern.role_ = Role::Select;
    bool anchored = false;
    if (starts_with(line, "\\!") || starts_with(line, "\\#")) {
        line.remove_prefix(1);
    } else {
        if (starts_with(line, "!")) {
            pattern.role_ = Role::Exclude;
            line.remove_prefix(1);
        }
        if (starts_with(line, "/")) {
            line.remove_prefix(1);
            anchored = true;
        }
    }
    if (ends_with(line, "/")) {
        pattern.only_directories_ = true;
        line.remove_suffix(1);
        if (ends_with(line, "\\")) line.remove_suffix(1);
    }

    std::string glob(line);
    if (!anchored && glob.find('/') == std::string::npos && !starts_with(glob, "**/") &&
        glob != "**") {
        glob = "**/" + glob;
    }
    // "dir/**" must select what is inside the directory, not the directory itself.
    if (ends_with(glob, "/**")) glob += "/*";

    auto regex = glob_to_regex(glob, /*literal_separator=*/true);
    if (!regex.ok()) return Err(glob_error_text(original, regex.error()));
    VOK_ASSIGN(pattern.glob_, GlobSet::build({regex.value()}));
    return pattern;
}

bool WalkPattern::matches(std::string_view relative, bool is_dir) const {
    if (role_ == Role::Inert) return false;
    if (only_directories_ && !is_dir) return false;
    return glob_.is_match(relative);
}

} // namespace vok::file_match
