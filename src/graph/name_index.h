// NameIndex: the first record added under each name, as a position in the record store.
//
// The graph answers "which entity (role, resource) is called X" with the first one added, and the
// lowering asks that for every reference it cannot resolve in its own namespace. The index holds
// no names of its own: it is a PositionTable of positions into the store, which reads a name from
// the store only when 32 bits of its hash agree. That costs 8 bytes a slot instead of a node, an
// owned copy of the name and an allocation per record.
//
// The caller passes the store's names as `name_at(position)`; records are never removed or renamed
// inside the graph, so a position keeps its name and the first record of a name stays the first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "common/position_table.h"

namespace vok {

class NameIndex {
public:
    static uint32_t hash_of(std::string_view name) {
        return PositionTable::fold(std::hash<std::string_view>{}(name));
    }

    // The position of the first record added under `name`.
    template <class NameAt>
    std::optional<size_t> find(std::string_view name, const NameAt& name_at) const {
        return table_.find(hash_of(name),
                           [&](size_t position) { return name_at(position) == name; });
    }

    // Records `position` as the first record of `name` unless the name has one already; returns
    // the position of the first record of the name either way.
    template <class NameAt>
    size_t insert(std::string_view name, size_t position, const NameAt& name_at) {
        return table_.insert(hash_of(name), position,
                             [&](size_t other) { return name_at(other) == name; });
    }

    // Starts loading the slot where `name` would be found: a hint that changes nothing.
    void prefetch(std::string_view name) const { table_.prefetch(hash_of(name)); }

    // Room for `count` names in all, so that adding them never rehashes.
    void reserve(size_t count) { table_.reserve(count); }

private:
    PositionTable table_;
};

} // namespace vok
