// NameIndex: the first record added under each name, as a position in the record store.
//
// The graph answers "which entity (role, resource) is called X" with the first one added, and the
// lowering asks that for every reference it cannot resolve in its own namespace. The index holds
// no names of its own: it is an open-addressing table of positions into the store, each beside 32
// bits of the name's hash, and reads a name from the store only when those bits agree. That costs
// 8 bytes a slot (the table is kept at most half full) instead of a node, an owned copy of the name
// and an allocation per record.
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

#include "common/invariant.h"
#include "common/large_block_allocator.h"

namespace vok {

class NameIndex {
public:
    static uint32_t hash_of(std::string_view name) {
        const uint64_t h = std::hash<std::string_view>{}(name);
        return static_cast<uint32_t>(h ^ (h >> 32));
    }

    // The position of the first record added under `name`.
    template <class NameAt>
    std::optional<size_t> find(std::string_view name, const NameAt& name_at) const {
        if (slots_.empty()) return std::nullopt;
        const size_t mask = slots_.size() - 1;
        const uint32_t hash = hash_of(name);
        for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            const Slot& s = slots_[slot];
            if (s.position == 0) return std::nullopt;
            if (s.hash == hash && name_at(s.position - 1) == name) return s.position - 1;
        }
    }

    // Records `position` as the first record of `name` unless the name has one already; returns
    // the position of the first record of the name either way.
    template <class NameAt>
    size_t insert(std::string_view name, size_t position, const NameAt& name_at) {
        VOK_INVARIANT(position < UINT32_MAX, "name index outgrew 32-bit positions");
        if ((count_ + 1) * 2 > slots_.size()) rehash(slots_.empty() ? 16 : slots_.size() * 2);
        const size_t mask = slots_.size() - 1;
        const uint32_t hash = hash_of(name);
        size_t slot = hash & mask;
        for (;; slot = (slot + 1) & mask) {
            const Slot& s = slots_[slot];
            if (s.position == 0) break;
            if (s.hash == hash && name_at(s.position - 1) == name) return s.position - 1;
        }
        slots_[slot] = Slot{hash, static_cast<uint32_t>(position + 1)};
        ++count_;
        return position;
    }

    // Starts loading the slot where `name` would be found: a hint that changes nothing.
    void prefetch(std::string_view name) const {
        if (!slots_.empty()) __builtin_prefetch(&slots_[hash_of(name) & (slots_.size() - 1)]);
    }

    // Room for `count` names in all, so that adding them never rehashes.
    void reserve(size_t count) {
        size_t wanted = 16;
        while (wanted < count * 2)
            wanted *= 2;
        if (wanted > slots_.size()) rehash(wanted);
    }

private:
    struct Slot {
        uint32_t hash = 0;
        uint32_t position = 0; // plus one; zero marks an empty slot
    };

    void rehash(size_t slot_count) {
        auto old = std::move(slots_);
        slots_.assign(slot_count, Slot{});
        const size_t mask = slot_count - 1;
        for (const Slot& s : old) {
            if (s.position == 0) continue;
            size_t slot = s.hash & mask;
            while (slots_[slot].position != 0)
                slot = (slot + 1) & mask;
            slots_[slot] = s;
        }
    }

    std::vector<Slot, LargeBlockAllocator<Slot>> slots_;
    size_t count_ = 0;
};

} // namespace vok
