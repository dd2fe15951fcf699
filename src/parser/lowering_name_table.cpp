// NameTable lookups and inserts; see lowering_name_table.h.
#include "parser/lowering_name_table.h"

#include <algorithm>

namespace vok {

size_t NameTable::QualifiedHash::operator()(const QualifiedView& key) const noexcept {
    const size_t a = std::hash<std::string_view>{}(key.namespace_name);
    const size_t b = std::hash<std::string_view>{}(key.name);
    return a ^ (b + 0x9E3779B97F4A7C15ull + (a << 6) + (a >> 2));
}

bool NameTable::contains(std::string_view namespace_name, std::string_view name) const {
    return by_qualified_name_.find(QualifiedView{namespace_name, name}) != by_qualified_name_.end();
}

std::optional<Uuid> NameTable::find(std::string_view namespace_name, std::string_view name) const {
    auto found = by_qualified_name_.find(QualifiedView{namespace_name, name});
    if (found == by_qualified_name_.end()) return std::nullopt;
    return found->second;
}

void NameTable::reserve(size_t count) {
    by_qualified_name_.reserve(count);
    by_name_.reserve(count);
}

void NameTable::insert(std::string_view namespace_name, std::string_view name, const Uuid& id) {
    auto [slot, inserted] = by_qualified_name_.try_emplace(
        QualifiedName{std::string(namespace_name), std::string(name)}, id);
    if (!inserted) return;
    auto entries = by_name_.find(name);
    if (entries == by_name_.end()) entries = by_name_.try_emplace(std::string(name)).first;
    entries->second.emplace_back(std::string(namespace_name), id);
}

const std::vector<std::pair<std::string, Uuid>>*
NameTable::find_by_name(std::string_view name) const {
    auto found = by_name_.find(name);
    return found == by_name_.end() ? nullptr : &found->second;
}

ParseResult<std::optional<Uuid>> resolve_reference(const NameTable& table, std::string_view name,
                                                   std::string_view namespace_name) {
    if (auto id = table.find(namespace_name, name)) return std::optional<Uuid>(*id);
    const auto* candidates = table.find_by_name(name);
    if (candidates == nullptr || candidates->empty()) return std::optional<Uuid>();
    if (candidates->size() == 1) return std::optional<Uuid>(candidates->front().second);

    std::vector<std::string_view> namespaces;
    namespaces.reserve(candidates->size());
    for (const auto& [candidate_namespace, id] : *candidates)
        namespaces.push_back(candidate_namespace);
    std::sort(namespaces.begin(), namespaces.end());
    namespaces.erase(std::unique(namespaces.begin(), namespaces.end()), namespaces.end());
    std::string list;
    for (std::string_view candidate_namespace : namespaces) {
        if (!list.empty()) list += ", ";
        list += candidate_namespace;
    }
    return Err(ParserError::validation("Ambiguous reference '" + std::string(name) +
                                       "' found in namespaces: " + list));
}

} // namespace vok
