// FormatConfig: the options of one formatting run, read-only while printing.
#pragma once

#include <cstdint>

namespace vok {

struct FormatConfig {
    // Spaces per indent level when tabs are off.
    uint64_t indent_width = 4;
    // One tab character per indent level instead of spaces.
    bool use_tabs = false;
    // Re-emit the comment block at the top of the file.
    bool preserve_comments = true;
    // Order the import lines by the module they import from.
    bool sort_imports = true;
};

} // namespace vok
