// prepare_thread; see thread_preparation.h.
#include "common/thread_preparation.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cxxabi.h>

namespace vok {

namespace {

// More than the files that register one. A toucher past these would not run: its storage would be
// made on first use, as it would have been without it.
constexpr size_t kMostTouchers = 16;
// Constant-initialised, so a toucher registered during the library's start-up finds them ready.
using Touch = void (*)();
constinit Touch g_touchers[kMostTouchers] = {};
constinit std::atomic<size_t> g_touchers_registered{0};

// More than everything preparing a thread allocates (the module's thread-local block is a few
// kilobytes), and small enough that malloc takes it from the thread's arena, where the allocations
// that follow find the room it leaves.
constexpr size_t kProbeBytes = 64 * 1024;

// The key of prepared threads, made when the library is loaded. When no key can be had, each call
// checks the memory again: touching storage that exists already costs nothing more.
struct PreparedKey {
    pthread_key_t key{};
    bool made = false;
    PreparedKey() noexcept { made = pthread_key_create(&key, nullptr) == 0; }
};
const PreparedKey g_prepared;

} // namespace

namespace detail {
constinit thread_local ThreadState thread_state{};
} // namespace detail

ThreadLocalToucher::ThreadLocalToucher(void (*touch)()) noexcept {
    const size_t slot = g_touchers_registered.fetch_add(1, std::memory_order_relaxed);
    if (slot < kMostTouchers) g_touchers[slot] = touch;
}

ThreadState* prepare_thread() noexcept {
    if (g_prepared.made) {
        if (void* state = pthread_getspecific(g_prepared.key)) [[likely]]
            return static_cast<ThreadState*>(state);
    }
    void* probe = std::malloc(kProbeBytes);
    if (probe == nullptr) return nullptr;
    std::free(probe);
    // This module's own thread-local block: reaching any of its variables makes all of them.
    ThreadState* const state = &detail::thread_state;
    (void)abi::__cxa_get_globals();
    // The C++ runtime's storage exists now, so a toucher that runs out of memory can be caught.
    try {
        const size_t touchers =
            std::min(g_touchers_registered.load(std::memory_order_relaxed), kMostTouchers);
        for (size_t i = 0; i < touchers; ++i)
            g_touchers[i]();
    } catch (...) {
        return nullptr;
    }
    // Failing to record it (a key past the descriptor's own slots, and no memory for more) only
    // means the next call checks again.
    if (g_prepared.made) (void)pthread_setspecific(g_prepared.key, state);
    return state;
}

} // namespace vok
