// Walking a root directory for the files that one gitignore-style pattern selects.
//
// The walk only reads: it lists directories, never follows symbolic links (a link is neither
// listed nor entered, whatever it points to), and reports regular files only. It keeps its own
// stack instead of recursing, so a very deep tree cannot exhaust the call stack. Entries of a
// directory are visited in byte order of their names, which makes the walk repeatable.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "common/result.h"
#include "file_match/walk_pattern.h"

namespace vok::file_match {

// The "/"-separated paths, relative to `root`, of the regular files that `pattern` selects. The
// error is the text of the first failure to read a directory, in the form
// "IO error for operation on <path>: <system text>".
Result<std::vector<std::string>, std::string> walk_selected_files(const std::filesystem::path& root,
                                                                  const WalkPattern& pattern);

} // namespace vok::file_match
