// Room for a long list of records, made in steps that can be interrupted.
//
// A std::vector grown an element at a time doubles its room now and then, moving every element
// into fresh memory in one step: for a pack's hundred thousand concepts of several hundred bytes
// each, tens of megabytes written with no poll between them. Readers of such lists call
// make_record_room before each element they add: once the list's elements take a step's length
// (kTextStep) and the list is full, it moves to a room twice as large with a cancellation poll
// before each step of elements, as growing_text.h does for texts. Until then the call is two
// comparisons and the list grows as std::vector grows it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <type_traits>
#include <vector>

#include "common/cancellation.h"
#include "common/growing_text.h"

namespace vok {

// Moves `items` to a room of twice its capacity, a step's bytes of elements at a time with
// poll_cancellation_now() before each step. Stopped, `items` holds what it held, in its own room.
template <class T> void grow_records_in_steps(std::vector<T>& items) {
    static_assert(std::is_nothrow_move_constructible_v<T> && std::is_nothrow_move_assignable_v<T>,
                  "a stop moves the elements back, which must not fail");
    constexpr std::size_t kPerStep = std::max<std::size_t>(1, kTextStep / sizeof(T));
    std::vector<T> larger;
    // Reserving writes nothing: the pages of the new room are faulted in by the moves below.
    larger.reserve(std::max<std::size_t>(2 * items.capacity(), 1));
    try {
        for (std::size_t at = 0; at < items.size(); ++at) {
            if (at % kPerStep == 0) poll_cancellation_now();
            larger.push_back(std::move(items[at]));
        }
    } catch (...) {
        for (std::size_t at = 0; at < larger.size(); ++at)
            items[at] = std::move(larger[at]);
        throw;
    }
    items.swap(larger);
}

// Makes sure a long, full `items` has room for its next element without std::vector moving it all
// in one step.
template <class T> void make_record_room(std::vector<T>& items) {
    if (items.size() == items.capacity() && items.size() * sizeof(T) >= kTextStep) [[unlikely]]
        grow_records_in_steps(items);
}

} // namespace vok
