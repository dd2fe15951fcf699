// Directory walk for the files one gitignore-style pattern selects; see file_walk.h.
#include "file_match/file_walk.h"
#include "common/cancellation.h"

#include <algorithm>
#include <system_error>

#include "file_match/path_text.h"

namespace vok::file_match {

namespace {

namespace fs = std::filesystem;

std::string walk_error(const fs::path& path, const std::error_code& error) {
    return "IO error for operation on " + lossy_utf8(path.native()) + ": " + os_error_text(error);
}

struct Entry {
    std::string name;
    fs::file_type type;
};

} // namespace

Result<std::vector<std::string>, std::string> walk_selected_files(const fs::path& root,
                                                                  const WalkPattern& pattern) {
    std::vector<std::string> selected;
    // Directories still to list, as paths relative to the root ("" is the root itself).
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
        const std::string relative_dir = std::move(pending.back());
        pending.pop_back();
        const fs::path dir = relative_dir.empty() ? root : root / relative_dir;

        std::error_code error;
        fs::directory_iterator it(dir, error);
        if (error) return Err(walk_error(dir, error));
        std::vector<Entry> entries;
        for (; it != fs::directory_iterator(); it.increment(error)) {
            poll_cancellation();
            const fs::file_status status = it->symlink_status(error);
            if (error) return Err(walk_error(it->path(), error));
            entries.push_back({it->path().filename().native(), status.type()});
        }
        // A failed increment ends the loop with the error set.
        if (error) return Err(walk_error(dir, error));
        std::sort(entries.begin(), entries.end(),
                  [](const Entry& a, const Entry& b) { return a.name < b.name; });

        std::vector<std::string> subdirectories;
        for (const Entry& entry : entries) {
            std::string relative =
                relative_dir.empty() ? entry.name : relative_dir + "/" + entry.name;
            if (entry.type == fs::file_type::directory) {
                const bool excluded = pattern.role() == WalkPattern::Role::Exclude &&
                                      pattern.matches(lossy_utf8(relative), true);
                if (!excluded) subdirectories.push_back(std::move(relative));
            } else if (entry.type == fs::file_type::regular) {
                if (pattern.role() == WalkPattern::Role::Select &&
                    pattern.matches(lossy_utf8(relative), false)) {
                    selected.push_back(std::move(relative));
                }
            }
        }
        // Reversed onto the stack so that directories are listed in name order.
        pending.insert(pending.end(), std::make_move_iterator(subdirectories.rbegin()),
                       std::make_move_iterator(subdirectories.rend()));
    }
    return selected;
}

} // namespace vok::file_match
