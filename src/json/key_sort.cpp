// The two sorts of key_sort.h. The merge sort is bottom-up, with a buffer of half of the entries:
// each half is sorted through the buffer, passes going back and forth between the two, and the
// first half is then moved into the buffer and merged with the second into place. The sort by
// chunks sorts positions, eight bytes of key at a time, and moves each entry once.
#include "json/key_sort.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
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

// Objects of at most this many entries are sorted by their positions (sort_by_chunks), larger
// ones merge sorted: moving the entries into their order at the end reads them at random, which
// costs more than the merge's passes once they are far larger than the caches.
constexpr std::size_t kSortedByChunks = std::size_t{1} << 16;

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

// Merge sorts `entries`, of two or more.
void merge_sort(std::vector<Entry>& entries) {
    const std::size_t size = entries.size();
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

// Eight bytes of a key from `offset` on, as a number that orders as the bytes do (zero bytes past
// the key's end), with how many of the key's bytes are left from `offset`, counted up to 9: 9 says
// that the key goes on past the eight. Of two keys equal before `offset`, the one with the lesser
// (bytes, left) is the lesser key; where both are equal and the keys end within the eight, the
// keys are equal.
struct KeyChunk {
    std::uint64_t bytes;
    std::uint32_t position;
    std::uint32_t left;
};

constexpr std::uint32_t kGoesOn = 9;

void load_chunk(KeyChunk& chunk, const std::string& key, std::size_t offset) {
    const std::size_t left = key.size() > offset ? key.size() - offset : 0;
    std::uint64_t bytes = 0;
    std::memcpy(&bytes, key.data() + std::min(offset, key.size()), std::min<std::size_t>(left, 8));
    chunk.bytes = __builtin_bswap64(bytes);
    chunk.left = std::uint32_t(std::min<std::size_t>(left, kGoesOn));
}

// Sorts `entries`, of two or more, by sorting their positions eight bytes of key at a time: the
// positions are sorted by their keys' first eight bytes, each run of keys equal so far by the next
// eight, and so on; the entries are then moved into their order once. The keys are read where
// they lie only to take the next eight bytes, never compared whole. For objects whose entries fit
// the caches, where moving each entry once beats moving it at every pass of a merge.
void sort_by_chunks(std::vector<Entry>& entries) {
    CancellationPoller poller;
    const std::size_t size = entries.size();
    std::vector<KeyChunk> order;
    order.reserve(size);
    for (std::size_t at = 0; at < size; ++at) {
        poller.poll();
        KeyChunk& chunk = order.emplace_back();
        chunk.position = std::uint32_t(at);
        load_chunk(chunk, entries[at].first, 0);
    }
    const auto less = [&poller](const KeyChunk& a, const KeyChunk& b) {
        poller.poll();
        if (a.bytes != b.bytes) return a.bytes < b.bytes;
        if (a.left != b.left) return a.left < b.left;
        return a.position < b.position;
    };
    // Runs of positions whose keys are equal up to an offset, sorted by the bytes from it.
    struct Run {
        std::size_t begin;
        std::size_t end;
        std::size_t offset;
    };
    std::vector<Run> runs{{0, size, 0}};
    while (!runs.empty()) {
        const Run run = runs.back();
        runs.pop_back();
        // Keys that share a part of their text (a prefix of all the keys of an object, mostly)
        // give runs already in order, which a pass tells.
        const auto first = order.begin() + std::ptrdiff_t(run.begin);
        const auto last = order.begin() + std::ptrdiff_t(run.end);
        if (!std::is_sorted(first, last, less)) std::sort(first, last, less);
        for (std::size_t begin = run.begin; begin < run.end;) {
            std::size_t end = begin + 1;
            while (end < run.end && order[end].bytes == order[begin].bytes &&
                   order[end].left == order[begin].left)
                ++end;
            if (end - begin > 1 && order[begin].left == kGoesOn) {
                for (std::size_t at = begin; at < end; ++at) {
                    poller.poll();
                    load_chunk(order[at], entries[order[at].position].first, run.offset + 8);
                }
                runs.push_back({begin, end, run.offset + 8});
            }
            begin = end;
        }
    }
    std::vector<Entry> sorted;
    sorted.reserve(size);
    for (const KeyChunk& chunk : order) {
        poller.poll();
        sorted.push_back(std::move(entries[chunk.position]));
    }
    entries = std::move(sorted);
}

} // namespace

void stable_sort_by_key(std::vector<Entry>& entries) {
    if (entries.size() < 2) return;
    if (entries.size() <= kSortedByChunks) {
        sort_by_chunks(entries);
    } else {
        merge_sort(entries);
    }
}

} // namespace vok::json
