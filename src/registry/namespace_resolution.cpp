// Mapping files to namespaces: NamespaceRegistry::namespace_for and resolve_files.
//
// The two answer the same question from opposite ends and deliberately read patterns
// differently. namespace_for matches one path text against the compiled globs, where `*` crosses
// directories ("src/*.vok" claims "src/deep/y.vok"). resolve_files walks the tree once per
// pattern and reads each pattern the way an ignore file would, so that "*.vok" lists matching
// files at any depth but "src/*.vok" lists only the files directly in "src".
#include <algorithm>
#include <map>
#include <optional>
#include <utility>

#include "common/cancellation.h"
#include "file_match/file_walk.h"
#include "file_match/path_text.h"
#include "registry/namespace_registry.h"

namespace vok::registry {

namespace {

namespace fs = std::filesystem;

// The text that patterns are matched against: `absolute` relative to `root`, or nothing when it
// does not lie below `root`. Both are compared component by component, so "/r/abc" is not below
// "/r/ab".
std::optional<std::string> relative_text(const fs::path& root, const std::string& absolute) {
    const auto root_components = file_match::path_components(root.native());
    const auto components = file_match::path_components(absolute);
    if (components.size() < root_components.size() ||
        !std::equal(root_components.begin(), root_components.end(), components.begin())) {
        return std::nullopt;
    }
    std::string relative;
    for (std::size_t i = root_components.size(); i < components.size(); ++i) {
        if (!relative.empty()) relative += '/';
        relative += components[i];
    }
    relative = file_match::lossy_utf8(relative);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    while (relative.rfind("./", 0) == 0)
        relative.erase(0, 2);
    return relative;
}

std::vector<std::string> sorted_pair(std::string first, std::string second) {
    if (second < first) std::swap(first, second);
    return {std::move(first), std::move(second)};
}

} // namespace

Result<std::string, RegistryError> NamespaceRegistry::namespace_for(std::string_view path,
                                                                    bool fail_on_ambiguity) const {
    fs::path joined{std::string(path)};
    if (path.empty() || path.front() != '/') joined = root_ / joined;
    // A file that does not exist (yet) is still placed by its path as written.
    auto canonical = file_match::canonical_path(joined.native());
    const std::string candidate = canonical.ok() ? canonical.value() : joined.native();
    const auto relative = relative_text(root_, candidate);
    if (!relative) return default_namespace_;

    std::vector<const CompiledNamespace*> best;
    std::size_t best_specificity = 0;
    for (const CompiledNamespace& entry : namespaces_) {
        if (!entry.globs.is_match(*relative)) continue;
        if (entry.specificity > best_specificity) {
            best_specificity = entry.specificity;
            best.assign(1, &entry);
        } else if (entry.specificity == best_specificity) {
            best.push_back(&entry);
        }
    }
    if (best.empty()) return default_namespace_;
    if (best.size() == 1) return best.front()->namespace_name;

    std::vector<std::string> names;
    for (const CompiledNamespace* entry : best)
        names.push_back(entry->namespace_name);
    std::sort(names.begin(), names.end());
    if (fail_on_ambiguity)
        return Err(RegistryError::AmbiguousList{std::string(path), std::move(names)});
    return names.front();
}

Result<std::vector<NamespaceBinding>, RegistryError>
NamespaceRegistry::resolve_files(bool fail_on_ambiguity) const {
    // Each listed file and the namespace that holds it so far.
    std::map<std::string, const CompiledNamespace*> claims;
    for (const CompiledNamespace& entry : namespaces_) {
        for (const std::string& pattern : entry.patterns) {
            auto walk_pattern = file_match::WalkPattern::compile(pattern);
            if (!walk_pattern.ok())
                return Err(RegistryError::GlobBuild{pattern, std::move(walk_pattern).error()});
            auto files = file_match::walk_selected_files(root_, walk_pattern.value());
            if (!files.ok()) return Err(RegistryError::Walk{std::move(files).error()});

            for (const std::string& relative : files.value()) {
                poll_cancellation();
                std::string absolute = (root_ / relative).native();
                auto [slot, inserted] = claims.try_emplace(std::move(absolute), &entry);
                if (inserted) continue;
                const CompiledNamespace*& holder = slot->second;
                const std::string& held = holder->namespace_name;
                if (held == entry.namespace_name) continue;
                if (entry.specificity > holder->specificity) {
                    holder = &entry;
                } else if (entry.specificity == holder->specificity) {
                    if (fail_on_ambiguity) {
                        return Err(
                            RegistryError::AmbiguousList{file_match::lossy_utf8(slot->first),
                                                         sorted_pair(held, entry.namespace_name)});
                    }
                    if (entry.namespace_name < held) holder = &entry;
                }
            }
        }
    }

    std::vector<NamespaceBinding> bindings;
    bindings.reserve(claims.size());
    for (const auto& [path, holder] : claims)
        bindings.push_back({path, holder->namespace_name});
    std::stable_sort(bindings.begin(), bindings.end(),
                     [](const NamespaceBinding& a, const NamespaceBinding& b) {
                         return file_match::path_components_less(a.path, b.path);
                     });
    return bindings;
}

} // namespace vok::registry
