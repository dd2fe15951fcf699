// The stable sort of an object's entries by key, for objects too large for an insertion sort.
//
// Keys that share their first bytes (prefixed ids, URLs, words of one alphabet) are the hard case:
// a sort that compares whole keys reaches for each key's text at every comparison, wherever it
// lies. Two sorts share the work, by the object's size:
// - up to 65,536 entries, positions are sorted by eight bytes of key at a time,
//   the keys equal so far by their next eight bytes, and the entries are moved into their order
//   once: the positions and the bytes sit side by side, and the entries fit the caches;
// - beyond, a merge sort of the entries themselves: each pass reads and writes them in order,
//   where moving them into their order from a list of positions would read them at random. The
//   library's stable sort is such a sort, but it takes its buffer (half of the entries) in one
//   step, tens of megabytes of fresh memory for a large object written with no poll between;
//   here the buffer is made first, a few entries between polls, so that nothing the sort itself
//   writes is fresh.
#pragma once

#include <vector>

#include "json/value.h"

namespace vok::json {

// Sorts `entries` by key in byte order, keeping entries of equal keys in their order, polling for
// cancellation as it goes. Stopped by cancellation, it leaves `entries` with some of its entries
// moved out and dropped, the rest valid to destroy: the object is being dropped then.
void stable_sort_by_key(std::vector<Object::Entry>& entries);

} // namespace vok::json
