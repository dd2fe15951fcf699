// Remembered failures of rules, so that a rule retried at a position where it already failed costs
// one lookup instead of a second descent.
//
// Ordered choice retries rules: when `not (a - (b ...` fails as `not` followed by an expression,
// the next alternative reads `not` as a name and reaches the same inner positions through `-`
// again, and every further level doubles the work. Remembering each failure of the rules that can
// be reached again bounds that: a rule body runs at most once per position in which it fails.
//
// A failure leaves the position and the pair records as they were, so all it changes is attempt
// tracking, and that change depends only on the rule and the position: the failure either moved the
// farthest position to some F and left its own set of expected rules there, or added rules at the
// farthest position it found, or changed nothing. The memo keeps that effect (F and the rules) and
// replays it. A rule that fails where it started adds exactly one attempt, which is kept as such
// (the enclosing rule counts it to decide whether it stands for itself); a rule that started before
// F adds attempts that only the final report reads, as a set. So every failure report reads as it
// would without the memo.
//
// The table is open addressing with linear probing over keys (position, rule); the tracked rules
// live in one shared pool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vok::peg {

template <class R> class FailureMemo {
    static_assert(sizeof(R) == 1, "the key packs the rule into one byte");

public:
    struct Entry {
        uint64_t key = 0; // 0: empty slot
        uint32_t farthest = 0;
        uint32_t pool_begin = 0;
        uint32_t positives = 0;
        uint32_t negatives = 0;
        bool tracked = false; // whether the failure added anything to attempt tracking
    };

    const Entry* find(R rule, size_t position) const {
        if (slots_ == nullptr) return nullptr;
        const uint64_t key = key_of(rule, position);
        for (size_t i = hash(key) & mask_;; i = (i + 1) & mask_) {
            const Entry& entry = slots_[i];
            if (entry.key == key) return &entry;
            if (entry.key == 0) return nullptr;
        }
    }

    // Remembers a failure of `rule` at `position` that added nothing to attempt tracking (or ran
    // without tracking).
    void remember_untracked(R rule, size_t position) {
        Entry entry;
        entry.key = key_of(rule, position);
        insert_growing(entry);
    }

    // Remembers a failure of `rule` at `position` that left the given attempts at `farthest`.
    void remember(R rule, size_t position, size_t farthest, const R* positives,
                  size_t positive_count, const R* negatives, size_t negative_count) {
        Entry entry;
        entry.key = key_of(rule, position);
        entry.tracked = true;
        entry.farthest = static_cast<uint32_t>(farthest);
        entry.pool_begin = static_cast<uint32_t>(pool_.size());
        entry.positives = static_cast<uint32_t>(positive_count);
        entry.negatives = static_cast<uint32_t>(negative_count);
        pool_.insert(pool_.end(), positives, positives + positive_count);
        pool_.insert(pool_.end(), negatives, negatives + negative_count);
        insert_growing(entry);
    }

    const R* pool(const Entry& entry) const { return pool_.data() + entry.pool_begin; }

private:
    // Positions are below 2^32 (pair records hold 32-bit offsets); the +1 keeps 0 free as "empty".
    static uint64_t key_of(R rule, size_t position) {
        return ((static_cast<uint64_t>(position) + 1) << 8 | static_cast<uint64_t>(rule));
    }
    static size_t hash(uint64_t key) {
        key *= 0x9E3779B97F4A7C15ull;
        return static_cast<size_t>(key ^ (key >> 29));
    }

    void insert_growing(const Entry& entry) {
        if ((count_ + 1) * 4 > capacity_ * 3) grow();
        insert(entry);
    }

    void insert(const Entry& entry) {
        for (size_t i = hash(entry.key) & mask_;; i = (i + 1) & mask_) {
            if (slots_[i].key == 0) {
                slots_[i] = entry;
                ++count_;
                return;
            }
        }
    }

    void grow() {
        const size_t old_capacity = capacity_;
        std::unique_ptr<Entry[]> old = std::move(slots_);
        capacity_ = old_capacity == 0 ? 256 : old_capacity * 2;
        mask_ = capacity_ - 1;
        slots_ = std::make_unique<Entry[]>(capacity_);
        count_ = 0;
        for (size_t i = 0; i < old_capacity; ++i)
            if (old[i].key != 0) insert(old[i]);
    }

    std::unique_ptr<Entry[]> slots_;
    size_t capacity_ = 0;
    size_t mask_ = 0;
    size_t count_ = 0;
    std::vector<R> pool_;
};

} // namespace vok::peg
