// The sort of key_sort.h: positions sorted eight bytes of key at a time, then each entry moved
// once, along the cycles of the permutation.
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

// Chunks in at most one run in this many chunks are merged rather than sorted (sort_chunks).
constexpr std::size_t kFewRuns = 64;

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

// How far ahead the loops below fetch what they will read: an entry at a position the sort put
// anywhere, then the text of its key, which a key longer than a string holds in place has
// elsewhere on the heap.
constexpr std::size_t kEntryAhead = 16;
constexpr std::size_t kTextAhead = 8;

// Moves each entry to where `order` puts it: the entry at order[i].position goes to i. Each cycle
// of the permutation is followed once, so each entry moves once and nothing is allocated; a
// position that is placed is marked in `order`. Stopped by cancellation, the entry being moved is
// dropped here and every other entry stays in `entries`.
void move_into_order(std::vector<Entry>& entries, std::vector<KeyChunk>& order,
                     CancellationPoller& poller) {
    constexpr std::uint32_t kPlaced = UINT32_MAX;
    const std::size_t size = entries.size();
    for (std::size_t start = 0; start < size; ++start) {
        std::uint32_t from = order[start].position;
        if (from == kPlaced) continue;
        order[start].position = kPlaced;
        if (from == start) continue;
        Entry moving = std::move(entries[start]);
        std::size_t hole = start;
        while (from != start) {
            poller.poll();
            const std::uint32_t next = order[from].position;
            // The next step's two reads, each anywhere, are started while this one moves.
            __builtin_prefetch(&order[next]);
            __builtin_prefetch(&entries[next]);
            entries[hole] = std::move(entries[from]);
            order[from].position = kPlaced;
            hole = from;
            from = next;
        }
        entries[hole] = std::move(moving);
    }
}

bool chunk_less(const KeyChunk& a, const KeyChunk& b) {
    if (a.bytes != b.bytes) return a.bytes < b.bytes;
    if (a.left != b.left) return a.left < b.left;
    return a.position < b.position;
}

// Merges the sorted runs [first, middle) and [middle, last) in place. The shorter of the two is
// copied into `buffer` and merged with the other into place, from the front when it is the first
// run, from the back when it is the second, so that the buffer is only as large as the shorter
// run: keys in counting order give runs each ten times as long as the one before.
void merge_in_place(KeyChunk* first, KeyChunk* middle, KeyChunk* last,
                    std::vector<KeyChunk>& buffer, CancellationPoller& poller) {
    if (first == middle || middle == last || !chunk_less(*middle, *(middle - 1))) return;
    const std::size_t shorter = std::size_t(std::min(middle - first, last - middle));
    if (buffer.size() < shorter) {
        // Fresh memory, made a few chunks between polls.
        buffer.reserve(shorter);
        while (buffer.size() < shorter) {
            poller.poll();
            buffer.emplace_back();
        }
    }
    KeyChunk* const copy = buffer.data();
    if (std::size_t(middle - first) == shorter) {
        const KeyChunk* a = copy;
        const KeyChunk* const a_end = std::copy(first, middle, copy);
        const KeyChunk* b = middle;
        KeyChunk* out = first;
        while (a != a_end && b != last) {
            poller.poll();
            *out++ = chunk_less(*b, *a) ? *b++ : *a++;
        }
        std::copy(a, a_end, out);
    } else {
        KeyChunk* const b_end = std::copy(middle, last, copy);
        KeyChunk* a = middle;
        KeyChunk* b = b_end;
        KeyChunk* out = last;
        while (a != first && b != copy) {
            poller.poll();
            *--out = chunk_less(*(b - 1), *(a - 1)) ? *--a : *--b;
        }
        std::copy_backward(copy, b, out);
    }
}

// Merges the neighbouring sorted runs of [first, last) that `ends` bounds (each run's end, the
// last one `last`), two by two, until one run is left.
void merge_chunk_runs(KeyChunk* first, std::vector<std::size_t>& ends,
                      std::vector<KeyChunk>& buffer, CancellationPoller& poller) {
    while (ends.size() > 1) {
        std::size_t begin = 0;
        std::size_t kept = 0;
        for (std::size_t run = 0; run < ends.size(); run += 2) {
            if (run + 1 == ends.size()) {
                ends[kept++] = ends[run];
                break;
            }
            merge_in_place(first + begin, first + ends[run], first + ends[run + 1], buffer, poller);
            begin = ends[run + 1];
            ends[kept++] = begin;
        }
        ends.resize(kept);
    }
}

// Sorts the chunks of [first, last). Keys that share their first bytes give chunks already in
// order, or in reverse order, or in a few runs in order (ids inserted in counting order whose
// digits run past the chunk): a pass tells, and such chunks are put in order in time in
// proportion to their number, or merged; others are sorted.
void sort_chunks(KeyChunk* first, KeyChunk* last, std::vector<KeyChunk>& buffer,
                 CancellationPoller& poller) {
    const std::size_t size = std::size_t(last - first);
    if (size < 2) return;
    std::vector<std::size_t> ends;
    bool descending = true;
    bool few_runs = true;
    for (std::size_t at = 1; at < size && (descending || few_runs); ++at) {
        poller.poll();
        const KeyChunk& a = first[at - 1];
        const KeyChunk& b = first[at];
        descending = descending && (b.bytes < a.bytes || (b.bytes == a.bytes && b.left <= a.left));
        if (few_runs && chunk_less(b, a)) {
            ends.push_back(at);
            few_runs = ends.size() * kFewRuns <= size;
        }
    }
    if (descending) {
        // Reversed, equal chunks come in reverse order of position, and are turned back: the
        // chunks of a run come in order of position (as the entries, or as the sort of the run
        // they were part of left them).
        std::reverse(first, last);
        for (KeyChunk* equal = first; equal != last;) {
            poller.poll();
            KeyChunk* end = equal + 1;
            while (end != last && end->bytes == equal->bytes && end->left == equal->left)
                ++end;
            std::reverse(equal, end);
            equal = end;
        }
        return;
    }
    if (!few_runs) {
        std::sort(first, last, [&poller](const KeyChunk& a, const KeyChunk& b) {
            poller.poll();
            return chunk_less(a, b);
        });
        return;
    }
    if (ends.empty()) return;
    ends.push_back(size);
    merge_chunk_runs(first, ends, buffer, poller);
}

// Sorts `entries`, of two or more, by sorting their positions eight bytes of key at a time: the
// positions are sorted by their keys' first eight bytes, each run of keys equal so far by the next
// eight, and so on; the entries are then moved into their order once.
void sort_by_chunks(std::vector<Entry>& entries) {
    CancellationPoller poller;
    const std::size_t size = entries.size();
    // Reserved, not made at its length: it is written as it is filled, with polls between.
    std::vector<KeyChunk> order;
    order.reserve(size);
    for (std::size_t at = 0; at < size; ++at) {
        poller.poll();
        KeyChunk& chunk = order.emplace_back();
        chunk.position = std::uint32_t(at);
        load_chunk(chunk, entries[at].first, 0);
    }
    // Room for the merges of sort_chunks, made when one is first needed.
    std::vector<KeyChunk> merged;
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
        sort_chunks(order.data() + run.begin, order.data() + run.end, merged, poller);
        for (std::size_t begin = run.begin; begin < run.end;) {
            std::size_t end = begin + 1;
            while (end < run.end && order[end].bytes == order[begin].bytes &&
                   order[end].left == order[begin].left)
                ++end;
            if (end - begin > 1 && order[begin].left == kGoesOn) {
                const std::size_t offset = run.offset + 8;
                for (std::size_t at = begin; at < end; ++at) {
                    poller.poll();
                    if (at + kEntryAhead < end)
                        __builtin_prefetch(&entries[order[at + kEntryAhead].position]);
                    if (at + kTextAhead < end)
                        __builtin_prefetch(entries[order[at + kTextAhead].position].first.data() +
                                           offset);
                    load_chunk(order[at], entries[order[at].position].first, offset);
                }
                runs.push_back({begin, end, offset});
            }
            begin = end;
        }
    }
    move_into_order(entries, order, poller);
}

} // namespace

void stable_sort_by_key(std::vector<Entry>& entries) {
    if (entries.size() < 2) return;
    if (entries.size() >= UINT32_MAX) {
        // Positions beyond what a chunk holds: whole keys compared, in the library's sort.
        CancellationPoller poller;
        std::stable_sort(entries.begin(), entries.end(), [&poller](const Entry& a, const Entry& b) {
            poller.poll();
            return a.first < b.first;
        });
        return;
    }
    sort_by_chunks(entries);
}

} // namespace vok::json
