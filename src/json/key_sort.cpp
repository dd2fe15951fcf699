// A bottom-up merge sort of entries with a buffer of half of them; see key_sort.h. Each half is
// sorted through the buffer, passes going back and forth between the two, and the first half is
// then moved into the buffer and merged with the second into place.
#include "json/key_sort.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "common/cancellation.h"

namespace vok::json {

namespace {

using Entry = Object::Entry;

// Runs this long are sorted by insertion before the merging starts: below it, moving an entry a
// few places costs less than a pass of merging.
constexpr std::ptrdiff_t kRun = 7;

// How many entries ahead of a run's first the text of a key is fetched into the cache while the
// runs are merged: a key longer than a string holds in place lies elsewhere on the heap, and a
// large object's keys are compared in an order far from the one they were made in.
constexpr std::ptrdiff_t kFetchAhead = 4;

// The comparison of the sort, which polls: a comparison is the unit of the sort's work.
class KeyLess {
public:
    bool operator()(const Entry& a, const Entry& b) {
        poller_.poll();
        return a.first < b.first;
    }

private:
    CancellationPoller poller_;
};

void insertion_sort(Entry* first, Entry* last, KeyLess& less) {
    for (Entry* next = first + 1; next < last; ++next) {
        if (!less(*next, *(next - 1))) continue;
        Entry moving = std::move(*next);
        Entry* hole = next;
        do {
            *hole = std::move(*(hole - 1));
            --hole;
        } while (hole > first && less(moving, *(hole - 1)));
        *hole = std::move(moving);
    }
}

// Moves the lesser of the first entries of two sorted runs, neither empty, to `out`: the first
// run's on equal keys.
[[gnu::always_inline]] inline void move_lesser(Entry*& first1, Entry* last1, Entry*& first2,
                                               Entry* last2, Entry*& out, KeyLess& less) {
    if (less(*first2, *first1)) {
        if (last2 - first2 > kFetchAhead) __builtin_prefetch(first2[kFetchAhead].first.data());
        *out++ = std::move(*first2++);
    } else {
        if (last1 - first1 > kFetchAhead) __builtin_prefetch(first1[kFetchAhead].first.data());
        *out++ = std::move(*first1++);
    }
}

// Merges the sorted runs [first1, last1) and [first2, last2) into `out` (which overlaps neither),
// taking from the first run on equal keys; returns the end of what was written.
Entry* merge(Entry* first1, Entry* last1, Entry* first2, Entry* last2, Entry* out, KeyLess& less) {
    while (first1 != last1 && first2 != last2)
        move_lesser(first1, last1, first2, last2, out, less);
    out = std::move(first1, last1, out);
    return std::move(first2, last2, out);
}

// Merges each two neighbouring runs of `step` entries of [first, last) into `out`.
void merge_runs(Entry* first, Entry* last, Entry* out, std::ptrdiff_t step, KeyLess& less) {
    while (last - first >= 2 * step) {
        out = merge(first, first + step, first + step, first + 2 * step, out, less);
        first += 2 * step;
    }
    const std::ptrdiff_t middle = std::min(last - first, step);
    merge(first, first + middle, first + middle, last, out, less);
}

// Sorts [first, last) with `buffer`, which has room for as many entries; the sorted entries end
// in [first, last).
void sort_through(Entry* first, Entry* last, Entry* buffer, KeyLess& less) {
    const std::ptrdiff_t size = last - first;
    for (Entry* run = first; run < last; run += std::min(kRun, last - run))
        insertion_sort(run, run + std::min(kRun, last - run), less);
    for (std::ptrdiff_t step = kRun; step < size; step *= 4) {
        merge_runs(first, last, buffer, step, less);
        merge_runs(buffer, buffer + size, first, 2 * step, less);
    }
}

} // namespace

void stable_sort_by_key(std::vector<Entry>& entries) {
    const std::size_t size = entries.size();
    if (size < 2) return;
    const std::size_t half = (size + 1) / 2;
    // Reserved, then made a few entries between polls: the memory is fresh, and making it all at
    // once would be a long stretch of page faults with no poll.
    CancellationPoller poller;
    std::vector<Entry> buffer;
    buffer.reserve(half);
    for (std::size_t at = 0; at < half; ++at) {
        poller.poll();
        buffer.emplace_back();
    }
    KeyLess less;
    Entry* const first = entries.data();
    Entry* const middle = first + half;
    Entry* const last = first + size;
    sort_through(first, middle, buffer.data(), less);
    sort_through(middle, last, buffer.data(), less);
    // The first half waits in the buffer while the two are merged into place: what is written
    // never passes what is still to be read of the second half.
    Entry* const waiting = buffer.data();
    Entry* const waiting_end = std::move(first, middle, waiting);
    Entry* from = waiting;
    Entry* second = middle;
    Entry* out = first;
    while (from != waiting_end && second != last)
        move_lesser(from, waiting_end, second, last, out, less);
    std::move(from, waiting_end, out);
}

} // namespace vok::json
