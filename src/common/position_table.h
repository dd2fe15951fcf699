// PositionTable: a hash index of positions into a store the caller owns.
//
// The graph's collections and name indexes find records by key among hundreds of thousands, and
// every insert looks up a key that is absent. So the index is an open-addressing table kept at
// most half full, each slot holding 32 bits of the key's hash beside the record's position (plus
// one; zero marks an empty slot): no allocation per record, 8 bytes a slot, and a probe asks the
// caller to compare keys only when the hash bits agree, so a miss costs one cache line rather than
// one per probed slot. The table holds no keys: `matches(position)` reads the store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/invariant.h"
#include "common/large_block_allocator.h"

namespace vok {

class PositionTable {
public:
    // 32 bits of a 64-bit hash, both halves mixed in.
    static uint32_t fold(uint64_t hash) { return static_cast<uint32_t>(hash ^ (hash >> 32)); }

    // The position whose key has `hash` and satisfies `matches(position)`.
    template <class Matches>
    std::optional<size_t> find(uint32_t hash, const Matches& matches) const {
        if (slots_.empty()) return std::nullopt;
        const size_t mask = slots_.size() - 1;
        for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            const Slot& s = slots_[slot];
            if (s.position == 0) return std::nullopt;
            if (s.hash == hash && matches(s.position - 1)) return s.position - 1;
        }
    }

    // Records `position` under `hash` unless a position satisfying `matches` is there already;
    // returns the position recorded for the key either way.
    template <class Matches> size_t insert(uint32_t hash, size_t position, const Matches& matches) {
        VOK_INVARIANT(position < UINT32_MAX, "hash index outgrew 32-bit positions");
        make_room_for_one();
        const size_t mask = slots_.size() - 1;
        size_t slot = hash & mask;
        for (;; slot = (slot + 1) & mask) {
            const Slot& s = slots_[slot];
            if (s.position == 0) break;
            if (s.hash == hash && matches(s.position - 1)) return s.position - 1;
        }
        slots_[slot] = Slot{hash, static_cast<uint32_t>(position + 1)};
        ++count_;
        return position;
    }

    // Grows the table, if need be, so that the next insert or add does not.
    void make_room_for_one() {
        if ((count_ + 1) * 2 > slots_.size()) rehash(slots_.empty() ? 16 : slots_.size() * 2);
    }

    // Records `position` under `hash` for a key the caller knows is absent.
    void add(uint32_t hash, size_t position) {
        VOK_INVARIANT(position < UINT32_MAX, "hash index outgrew 32-bit positions");
        make_room_for_one();
        const size_t mask = slots_.size() - 1;
        size_t slot = hash & mask;
        while (slots_[slot].position != 0)
            slot = (slot + 1) & mask;
        slots_[slot] = Slot{hash, static_cast<uint32_t>(position + 1)};
        ++count_;
    }

    // Starts loading the slot where `hash` would be found: a hint that changes nothing.
    void prefetch(uint32_t hash) const {
        if (!slots_.empty()) __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
    }

    // Room for `count` positions in all, so that adding them never rehashes.
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

    // Builds the larger table beside the old one, so that running out of memory leaves the index
    // as it was.
    void rehash(size_t slot_count) {
        Slots larger(slot_count, Slot{});
        const size_t mask = slot_count - 1;
        for (const Slot& s : slots_) {
            if (s.position == 0) continue;
            size_t slot = s.hash & mask;
            while (larger[slot].position != 0)
                slot = (slot + 1) & mask;
            larger[slot] = s;
        }
        slots_.swap(larger);
    }

    // Grows to hundreds of megabytes for large graphs: see LargeBlockAllocator.
    using Slots = std::vector<Slot, LargeBlockAllocator<Slot>>;
    Slots slots_;
    size_t count_ = 0;
};

} // namespace vok
