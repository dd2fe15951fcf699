// Memory a thread needs before it runs any of the module's code, and the state its calls keep.
//
// This module and the libraries it loads (the C++ runtime, RE2) keep thread_local variables. The
// module is loaded at run time, so the dynamic loader allocates their storage on each thread's
// first use of it (the C++ runtime's when the thread first throws or runs std::call_once); when
// that allocation fails, the C library ends the process: nothing can catch it. A thread_local
// object with a destructor likewise registers it on first use, and fails the same way.
//
// prepare_thread() makes all of them exist for the calling thread, once, after checking that
// memory can be had; when it cannot, it touches nothing and says so, and the caller reports
// running out of memory instead. Each call from outside prepares its thread first. Whether a
// thread is prepared is kept in a pthread key: for the first keys a process makes, the value
// lives in the thread's own descriptor, so asking allocates nothing.
//
// The value kept under the key is the address of the thread's ThreadState, the state of the
// module's calls on it (the stack's limits and the calls in progress, the installed cancellation
// check). Reaching a thread_local from a loaded module costs a call into the dynamic loader for
// each function that does; a call from outside instead has the address from prepare_thread and
// hands it to the parts of its frame, so a short call reaches no thread_local at all.
#pragma once

#include "common/cancellation.h"
#include "common/deep_recursion.h"

namespace vok {

// One thread's state. Trivially destructible, so that it stays usable until the thread's very end.
struct ThreadState {
    deep_recursion_detail::StackState stack;
    detail::CancellationState cancellation;
};

namespace detail {
// The calling thread's, for code that is not handed it. On a thread not yet prepared, reaching it
// makes the module's thread-local storage, and ends the process when memory is short.
extern thread_local constinit ThreadState thread_state;
} // namespace detail

// Registers `touch`, which reaches the thread_local objects with constructors or destructors of
// one file (or a library's), to be run in every thread prepare_thread prepares; it may throw
// bad_alloc. Made as a namespace-scope object of that file; at most a handful exist.
class ThreadLocalToucher {
public:
    explicit ThreadLocalToucher(void (*touch)()) noexcept;
};

// The calling thread's state, its thread-local storage made now if it did not exist; null, with
// nothing made, when memory is short.
ThreadState* prepare_thread() noexcept;

} // namespace vok
