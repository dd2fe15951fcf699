// The stable sort of an object's entries by key, for objects too large for an insertion sort.
//
// A merge sort of the entries themselves: each pass reads and writes them in order, so a large
// object costs about a key comparison and a move per entry and pass, without the jumps to random
// entries that sorting a list of positions takes when keys share their first bytes (prefixed ids,
// URLs, words of one alphabet). The library's stable sort is such a sort, but it takes its buffer
// (half of the entries) in one step, tens of megabytes of fresh memory for a large object written
// with no poll between. Here the buffer is made before the sort, a few entries between polls, so
// that nothing the sort itself writes is fresh.
#pragma once

#include <vector>

#include "json/value.h"

namespace vok::json {

// Sorts `entries` by key in byte order, keeping entries of equal keys in their order, polling for
// cancellation as it goes. Stopped by cancellation, it leaves `entries` with some of its entries
// moved out and dropped, the rest valid to destroy: the object is being dropped then.
void stable_sort_by_key(std::vector<Object::Entry>& entries);

} // namespace vok::json
