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
#include <optional>
#include <utility>
#include <vector>

#include "common/invariant.h"
#include "common/large_block_allocator.h"
#include "common/position_table.h"

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

    bool contains(const K& key) const { return position_of(key).has_value(); }

    const V* find(const K& key) const {
        const auto position = position_of(key);
        return position ? &entries_[*position].second : nullptr;
    }
    V* find(const K& key) {
        const auto position = position_of(key);
        return position ? &entries_[*position].second : nullptr;
    }

    // Appends the entry at the end of the order; when the key is already present, returns false
    // and leaves the map unchanged.
    // The value is forwarded into place: a record of a few hundred bytes is moved once, not once
    // per call level.
    template <class Value = V> bool insert(K key, Value&& value) {
        const uint32_t hash = hash_of(key);
        if (index_.find(hash, [&](size_t other) { return entries_[other].first == key; }))
            return false;
        // Room first: a failure to grow either array then leaves the map as it was.
        VOK_INVARIANT(entries_.size() < UINT32_MAX, "indexed map outgrew 32-bit positions");
        index_.make_room_for_one();
        entries_.emplace_back(std::move(key), std::forward<Value>(value));
        index_.add(hash, entries_.size() - 1);
        return true;
    }

    // Starts loading the index slot where `key` would be found, for callers that know their next
    // keys ahead: a hint that changes nothing.
    void prefetch(const K& key) const { index_.prefetch(hash_of(key)); }

    void reserve(size_t count) {
        entries_.reserve(count);
        index_.reserve(count);
    }

private:
    static uint32_t hash_of(const K& key) { return PositionTable::fold(Hash{}(key)); }

    std::optional<size_t> position_of(const K& key) const {
        return index_.find(hash_of(key),
                           [&](size_t position) { return entries_[position].first == key; });
    }

    // Grows to hundreds of megabytes for large graphs: see LargeBlockAllocator.
    Entries entries_;
    PositionTable index_;
};

} // namespace vok
