// IndexedMap: a map that remembers insertion order, for the graph's collections and the authority
// engine's tables.
//
// Everything that lists a collection (exports, Python lists, quantifier expansion) must see
// records in the order they were added, and everything that follows a reference must find a
// record by id in constant time. So the records live in a vector, in insertion order, and a hash
// index maps each key to its position. Nothing is ever removed, so positions never move.
//
// Keys are immutable once inserted: iteration is read-only, and only values are reachable for
// writing (through `find`).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "common/invariant.h"
#include "common/large_block_allocator.h"

namespace vok {

template <class K, class V, class Hash = std::hash<K>> class IndexedMap {
public:
    using Entry = std::pair<K, V>;
    using Entries = std::vector<Entry, LargeBlockAllocator<Entry>>;
    using const_iterator = typename Entries::const_iterator;

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }

    bool contains(const K& key) const { return slot_of(key) != kNone; }

    const V* find(const K& key) const {
        const size_t position = slot_of(key);
        return position == kNone ? nullptr : &entries_[position].second;
    }
    V* find(const K& key) {
        const size_t position = slot_of(key);
        return position == kNone ? nullptr : &entries_[position].second;
    }

    // Appends the entry at the end of the order; when the key is already present, returns false
    // and leaves the map unchanged.
    // The value is forwarded into place: a record of a few hundred bytes is moved once, not once
    // per call level.
    template <class Value = V> bool insert(K key, Value&& value) {
        if (contains(key)) return false;
        if ((entries_.size() + 1) * 2 > slots_.size())
            rehash(slots_.empty() ? 16 : slots_.size() * 2);
        VOK_INVARIANT(entries_.size() < UINT32_MAX, "indexed map outgrew 32-bit positions");
        const uint32_t hash = hash_of(key);
        entries_.emplace_back(std::move(key), std::forward<Value>(value));
        place(hash, entries_.size() - 1);
        return true;
    }

    // Starts loading the index slot where `key` would be found, for callers that know their next
    // keys ahead: a hint that changes nothing.
    void prefetch(const K& key) const {
        if (!slots_.empty()) __builtin_prefetch(&slots_[hash_of(key) & (slots_.size() - 1)]);
    }

    void reserve(size_t count) {
        entries_.reserve(count);
        size_t wanted = 16;
        while (wanted < count * 2)
            wanted *= 2;
        if (wanted > slots_.size()) rehash(wanted);
    }

private:
    // The index is an open-addressing table kept at most half full. Each slot holds 32 bits of the
    // key's hash beside the entry's position (plus one; zero marks an empty slot): no allocation
    // per record, and a probe reads the entry only when the hash bits agree, so looking up a key
    // that is absent (every insert does) costs one cache line rather than one per probed slot,
    // which matters for graphs of hundreds of thousands of records.
    struct Slot {
        uint32_t hash = 0;
        uint32_t position = 0;
    };
    static constexpr size_t kNone = static_cast<size_t>(-1);

    static uint32_t hash_of(const K& key) {
        const uint64_t h = Hash{}(key);
        return static_cast<uint32_t>(h ^ (h >> 32));
    }

    size_t slot_of(const K& key) const {
        if (slots_.empty()) return kNone;
        const size_t mask = slots_.size() - 1;
        const uint32_t hash = hash_of(key);
        for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            const Slot& s = slots_[slot];
            if (s.position == 0) return kNone;
            if (s.hash == hash && entries_[s.position - 1].first == key) return s.position - 1;
        }
    }

    void place(uint32_t hash, size_t position) {
        const size_t mask = slots_.size() - 1;
        size_t slot = hash & mask;
        while (slots_[slot].position != 0)
            slot = (slot + 1) & mask;
        slots_[slot] = Slot{hash, static_cast<uint32_t>(position + 1)};
    }

    void rehash(size_t slot_count) {
        auto old = std::move(slots_);
        slots_.assign(slot_count, Slot{});
        for (const Slot& s : old) {
            if (s.position != 0) place(s.hash, s.position - 1);
        }
    }

    // Both arrays grow to hundreds of megabytes for large graphs: see LargeBlockAllocator.
    Entries entries_;
    std::vector<Slot, LargeBlockAllocator<Slot>> slots_;
};

} // namespace vok
