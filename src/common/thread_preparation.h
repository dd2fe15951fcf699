// Memory a thread needs before it runs any of the module's code.
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
#pragma once

namespace vok {

// Registers `touch`, which reaches the thread_local objects with constructors or destructors of
// one file (or a library's), to be run in every thread prepare_thread prepares; it may throw
// bad_alloc. Made as a namespace-scope object of that file; at most a handful exist.
class ThreadLocalToucher {
public:
    explicit ThreadLocalToucher(void (*touch)()) noexcept;
};

// Whether the calling thread's thread-local storage exists (made now if it did not); false, with
// nothing made, when memory is short.
bool prepare_thread() noexcept;

} // namespace vok
