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
#include <functional>
#include <utility>
#include <vector>

namespace vok {

template <class K, class V, class Hash = std::hash<K>> class IndexedMap {
public:
    using Entry = std::pair<K, V>;
    using const_iterator = typename std::vector<Entry>::const_iterator;

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
    bool insert(K key, V value) {
        if (contains(key)) return false;
        if ((entries_.size() + 1) * 2 > slots_.size()) rehash(slots_.empty() ? 16 : slots_.size() * 2);
        entries_.emplace_back(std::move(key), std::move(value));
        place(entries_.size() - 1);
        return true;
    }

    void reserve(size_t count) {
        entries_.reserve(count);
        size_t wanted = 16;
        while (wanted < count * 2) wanted *= 2;
        if (wanted > slots_.size()) rehash(wanted);
    }

private:
    // The index is an open-addressing table of positions into `entries_` (plus one; zero marks an
    // empty slot), kept at most half full: no allocation per record and one cache line per probe,
    // which matters for graphs of hundreds of thousands of records.
    static constexpr size_t kNone = static_cast<size_t>(-1);

    size_t slot_of(const K& key) const {
        if (slots_.empty()) return kNone;
        const size_t mask = slots_.size() - 1;
        for (size_t slot = Hash{}(key) & mask;; slot = (slot + 1) & mask) {
            const size_t stored = slots_[slot];
            if (stored == 0) return kNone;
            if (entries_[stored - 1].first == key) return stored - 1;
        }
    }

    void place(size_t position) {
        const size_t mask = slots_.size() - 1;
        size_t slot = Hash{}(entries_[position].first) & mask;
        while (slots_[slot] != 0) slot = (slot + 1) & mask;
        slots_[slot] = position + 1;
    }

    void rehash(size_t slot_count) {
        slots_.assign(slot_count, 0);
        for (size_t position = 0; position < entries_.size(); ++position) place(position);
    }

    std::vector<Entry> entries_;
    std::vector<size_t> slots_;
};

} // namespace vok
