// Allocation failure on demand, for test programs: replacements of operator new and delete that
// fail as where memory has run out, and count what each thread frees. Included by exactly one file
// of a test program (the replacements are the program's own).
#pragma once

#include <cstdlib>
#include <new>

// Set on a thread: its next allocation by operator new fails.
thread_local bool t_fail_next_allocation = false;
// Set on a thread: every allocation by operator new fails until it is cleared.
thread_local bool t_fail_allocations = false;

// The replacements are not inlined, so that the compiler sees new paired with delete, not with
// free. The nothrow forms are replaced too, so that every form this program allocates with is
// freed by its own pair (a sanitizer's runtime brings forms of its own).
[[gnu::noinline]] void* operator new(std::size_t size) {
    if (t_fail_allocations || t_fail_next_allocation) {
        t_fail_next_allocation = false;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}
// How many blocks operator delete has freed on a thread.
thread_local std::size_t t_deletes = 0;

[[gnu::noinline]] void operator delete(void* memory) noexcept {
    ++t_deletes;
    std::free(memory);
}
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept {
    ++t_deletes;
    std::free(memory);
}
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (t_fail_allocations || t_fail_next_allocation) {
        t_fail_next_allocation = false;
        return nullptr;
    }
    return std::malloc(size == 0 ? 1 : size);
}
[[gnu::noinline]] void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}

// While it lives, every allocation of this thread by operator new fails.
class AllocationsFail {
public:
    AllocationsFail() { t_fail_allocations = true; }
    ~AllocationsFail() { t_fail_allocations = false; }
    AllocationsFail(const AllocationsFail&) = delete;
    AllocationsFail& operator=(const AllocationsFail&) = delete;
};
