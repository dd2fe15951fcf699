// Fuzzes the registry file reader (TOML shape, versions, namespaces, the nesting bound checked
// before the TOML library reads the text) and the glob compiler. scripts/fuzz runs it with inputs
// up to 200 KB, long enough for keys and headers nested deep enough to exhaust a stack.
#include <toml++/toml.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "file_match/glob.h"
#include "registry/registry_file.h"
#include "registry/toml_nesting.h"

namespace {

std::size_t tree_depth(const toml::node& node, std::size_t level = 0) {
    std::size_t depth = level;
    if (const auto* table = node.as_table()) {
        for (const auto& [key, child] : *table)
            depth = std::max(depth, tree_depth(child, level + 1));
    } else if (const auto* array = node.as_array()) {
        for (const auto& child : *array)
            depth = std::max(depth, tree_depth(child, level + 1));
    }
    return depth;
}

// Text the nesting bound lets through must not build a tree deeper than twice the bound (a
// header part through an array of tables counts once for two levels); a deeper tree means the
// scanner missed levels, long before they would exhaust the stack.
void check_nesting_bound(std::string_view text) {
    constexpr std::size_t kBound = vok::registry::kMaxTomlNesting;
    if (vok::registry::find_nesting_beyond(text, kBound)) return;
    try {
        if (tree_depth(toml::parse(text)) > 2 * kBound) std::abort();
    } catch (const toml::parse_error&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    check_nesting_bound(text);
    auto raw = vok::registry::parse_raw_registry(text);
    if (!raw.ok()) {
        (void)raw.error().to_string();
        return 0;
    }
    // Every pattern the file names goes through the glob compiler, as loading does.
    for (const auto& ns : raw->namespaces) {
        for (const auto& pattern : ns.patterns) {
            for (bool literal_separator : {false, true}) {
                auto regex = vok::file_match::glob_to_regex(pattern, literal_separator);
                if (regex.ok()) (void)vok::file_match::GlobSet::build({*regex});
            }
        }
    }
    return 0;
}
