// The stable sort of an object's entries by key, for objects too large for an insertion sort.
//
// Keys that share their first bytes (prefixed ids, URLs, words of one alphabet) are the hard case
// for a sort that compares whole keys: it reaches for each key's text at every comparison,
// wherever it lies. Keys that differ in their first bytes (UUIDs, digests) are the hard case for a
// sort that moves the entries at every pass: each pass moves tens of megabytes. So positions are
// sorted, eight bytes of key at a time beside them, the keys equal so far by their next eight
// bytes, and the entries are then moved into their order once, in place: each entry is read
// where it lies only to take the next eight bytes of its key, where those tie, and to be moved.
// Nothing as large as the entries is allocated, so that the sort writes little fresh memory.
//
// Keys inserted in an order close to theirs (ids in counting order, whose digits run past a
// chunk; the reverse order) give chunks in a few runs in order, or in reverse order: a pass tells,
// and those are merged, or turned round, rather than sorted again.
#pragma once

#include <vector>

#include "json/value.h"

namespace vok::json {

// Sorts `entries` by key in byte order, keeping entries of equal keys in their order, polling for
// cancellation as it goes. Stopped by cancellation, it leaves every entry in `entries` but the one
// it was moving, which it drops, each valid to destroy: the object is being dropped then.
void stable_sort_by_key(std::vector<Object::Entry>& entries);

} // namespace vok::json
