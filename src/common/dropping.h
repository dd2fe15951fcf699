// Dropping large values without holding up the caller's answer to cancellation.
//
// Freeing a document of millions of small allocations (an export's model, written or half-built)
// takes a good part of a second. In a destructor nothing can poll, so a value that large is
// dropped in steps with a poll between them (drop_in_steps), and when the caller is stopped, by
// a poll or by running out of memory, what is left of it is handed to a thread of its own to be
// freed (drop_elsewhere), so the exception reaches the caller at once instead of after the
// freeing. HandOffOnUnwind does the handing for a value that a scope builds: it stays in place
// when the scope ends normally.
//
// The thread only destroys the value: it touches no other state of the process, and the value
// must own everything it refers to. Where no thread can be started, or where starting one may end
// the process (memory_capped: destructors reach thread-local counters, whose storage a new thread
// allocates on first use), the value is destroyed in place, as it would have been.
#pragma once

#include <cstddef>
#include <exception>
#include <thread>
#include <utility>

#include "common/available_cores.h"
#include "common/cancellation.h"

namespace vok {

// How many values (elements of arrays and objects, at any depth) a stopped operation must have
// made for handing them to a thread of their own to pay: fewer are freed in place within a few
// milliseconds, and a stop of many small values would otherwise start a thread each time.
inline constexpr std::size_t kWorthAThread = std::size_t{1} << 18;

// Destroys `value` (moved from; left empty) on a thread of its own, or here when none can be had.
template <class T> void drop_elsewhere(T&& value) noexcept {
    if (memory_capped()) {
        const std::decay_t<T> doomed(std::move(value));
        return;
    }
    try {
        // The closure, destroyed on the new thread when it has run, takes the value with it.
        std::thread([doomed = std::move(value)] {}).detach();
    } catch (...) {
        // The closure, and the value with it, was destroyed on the way here.
    }
}

// Destroys the elements of `items` (a container of values each cheap to destroy) one by one,
// polling for cancellation between them; stopped, the rest goes to drop_elsewhere before the
// exception goes on.
template <class Container> void drop_in_steps(Container& items) {
    try {
        while (!items.empty()) {
            poll_cancellation();
            if constexpr (requires { items.pop_back(); }) {
                items.pop_back();
            } else {
                items.erase(items.begin());
            }
        }
    } catch (...) {
        drop_elsewhere(std::move(items));
        throw;
    }
}

// While it lives, an exception leaving the scope (cancellation, running out of memory) hands
// `value` to drop_elsewhere; the value itself is then destroyed empty. Declared after the value,
// so that it acts before the value's destructor.
template <class T> class HandOffOnUnwind {
public:
    explicit HandOffOnUnwind(T& value) noexcept
        : value_(value), exceptions_(std::uncaught_exceptions()) {}
    ~HandOffOnUnwind() {
        if (std::uncaught_exceptions() > exceptions_) drop_elsewhere(std::move(value_));
    }
    HandOffOnUnwind(const HandOffOnUnwind&) = delete;
    HandOffOnUnwind& operator=(const HandOffOnUnwind&) = delete;

private:
    T& value_;
    int exceptions_;
};

} // namespace vok
