// GrowingMap: a hash map that only grows, may grow very large, and takes in whole batches of
// entries at once, in constant time.
//
// Moving a batch into one std::unordered_map costs a lookup per entry in the whole table, and now
// and then a rehash of everything it holds: with millions of entries, a long stretch that cannot
// be interrupted part-way without leaving half a batch in. So a batch taken in is kept apart, as
// it came, and lookups ask the main table first and then the batch; the next batch to come moves
// it into the main table first. That move changes nothing a lookup can see, so it goes in short
// steps that may stop anywhere: what is left stays apart for the next time.
//
// The main table is split into shards by the keys' hashes, so that making room rehashes one shard
// at a time, with a poll before each, and each shard grows at least twofold when it grows. Both
// maps of a move shard their keys the same way: the entries of one shard of the batch go to the
// same shard of the main table.
//
// A key may be both in the main table and in the batch (it was added in between): the main
// table's entry is the one lookups find, and the batch's is dropped when the batch moves in.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <limits>
#include <unordered_map>
#include <utility>

#include "common/cancellation.h"

namespace vok {

template <class Key, class Value, class Hash, class Equal = std::equal_to<>> class GrowingMap {
public:
    // The entry under `key`, or nullptr; `key` may be of any type Hash and Equal accept.
    template <class K> const Value* find(const K& key) const {
        const std::size_t s = shard_index(key);
        if (auto found = main_[s].find(key); found != main_[s].end()) return &found->second;
        if (auto found = batch_[s].find(key); found != batch_[s].end()) return &found->second;
        return nullptr;
    }

    // Adds the entry unless the key is present; whether it did.
    bool insert(Key key, Value value) {
        if (find(key) != nullptr) return false;
        main_[shard_index(key)].try_emplace(std::move(key), std::move(value));
        return true;
    }

    // Adds the entry or replaces the value present under its key.
    void insert_or_assign(Key key, Value value) {
        const std::size_t s = shard_index(key);
        if (auto found = batch_[s].find(key); found != batch_[s].end() && !main_[s].contains(key)) {
            found->second = std::move(value);
            return;
        }
        main_[s].insert_or_assign(std::move(key), std::move(value));
    }

    // Takes in the entries of `batch` (one whose key this map holds is dropped); `batch` is left
    // empty. The batch taken in before is moved into the main table first, without polling (see
    // settle_step: a caller that holds a lock settles in steps before it takes); that may throw
    // bad_alloc, with the contents of both maps unchanged. The rest takes constant time and
    // cannot fail.
    void take(GrowingMap& batch) {
        while (!settle_step()) {
        }
        while (!batch.settle_step()) {
        }
        // Moving a std::unordered_map moves its buckets: nothing is allocated.
        batch_ = std::move(batch.main_);
        for (Shard& shard : batch.main_)
            shard.clear();
    }

    // Whether the batch taken in last has moved into the main table whole.
    bool settled() const {
        return std::all_of(batch_.begin(), batch_.end(), [](const Shard& s) { return s.empty(); });
    }

    // One bounded step of moving the batch taken in last into the main table: making room in one
    // shard, or moving up to kSettleStep entries. Whether the batch is settled now. The contents
    // stay the same at every step, and a step asks no cancellation check, so a caller may take
    // them under a lock and poll between them with the lock let go. May throw bad_alloc (making
    // room), changing nothing.
    bool settle_step() {
        for (std::size_t s = 0; s < kShards; ++s) {
            Shard& from = batch_[s];
            if (from.empty()) continue;
            Shard& to = main_[s];
            const std::size_t wanted = to.size() + from.size();
            const auto room =
                static_cast<std::size_t>(double(to.bucket_count()) * to.max_load_factor());
            if (wanted > room) {
                to.reserve(std::max(wanted, 2 * to.size()));
                return false;
            }
            // With the room made, inserting a node allocates nothing; a key the main table holds
            // keeps its entry there, and the batch's node is freed.
            for (std::size_t moved = 0; moved < kSettleStep && !from.empty(); ++moved)
                to.insert(from.extract(from.begin()));
            return settled();
        }
        return true;
    }

    // Settles the batch taken in last, polling for cancellation between steps; stopped, the rest
    // stays apart. Only for callers that hold no lock.
    void settle() {
        while (!settle_step())
            poll_cancellation_now();
    }

private:
    using Shard = std::unordered_map<Key, Value, Hash, Equal>;
    static constexpr int kShardBits = 6;
    static constexpr std::size_t kShards = std::size_t{1} << kShardBits;
    // Entries a settling step moves: a few hundred microseconds of work.
    static constexpr std::size_t kSettleStep = 4096;

    template <class K> static std::size_t shard_index(const K& key) {
        // The high bits: each shard chooses its buckets by the hash modulo their count.
        return static_cast<std::size_t>(Hash{}(key)) >>
               (std::numeric_limits<std::size_t>::digits - kShardBits);
    }

    std::array<Shard, kShards> main_;
    // The batch taken in last, not yet moved into main_.
    std::array<Shard, kShards> batch_;
};

} // namespace vok
