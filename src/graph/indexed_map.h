// IndexedMap: a map that remembers insertion order, for the graph's collections.
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
#include <unordered_map>
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

    bool contains(const K& key) const { return index_.find(key) != index_.end(); }

    const V* find(const K& key) const {
        auto found = index_.find(key);
        return found == index_.end() ? nullptr : &entries_[found->second].second;
    }
    V* find(const K& key) {
        auto found = index_.find(key);
        return found == index_.end() ? nullptr : &entries_[found->second].second;
    }

    // Appends the entry at the end of the order; when the key is already present, returns false
    // and leaves the map unchanged.
    bool insert(K key, V value) {
        auto [slot, inserted] = index_.try_emplace(key, entries_.size());
        if (!inserted) return false;
        try {
            entries_.emplace_back(std::move(key), std::move(value));
        } catch (...) {
            index_.erase(slot);
            throw;
        }
        return true;
    }

    void reserve(size_t count) {
        entries_.reserve(count);
        index_.reserve(count);
    }

private:
    std::vector<Entry> entries_;
    std::unordered_map<K, size_t, Hash> index_;
};

} // namespace vok
