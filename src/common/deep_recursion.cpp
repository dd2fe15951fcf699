// with_stack_room; see deep_recursion.h. A fresh stack segment is reserved with mmap (committed
// only as it is touched, behind a guard page) and entered with ucontext; the thread's own stack
// limit comes from pthread. A few segments are kept per thread for reuse and unmapped when the
// thread ends, so short-lived threads that once recursed deeply leave nothing behind.
//
// pthread reads the main thread's stack from /proc, which minimal containers and sandboxes may
// not mount. Without it the bound is estimated conservatively (see thread_stack_limit): taking
// a segment early costs a little memory, overrunning the real stack costs the process.
#include "common/deep_recursion.h"

#include <pthread.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define VOK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VOK_ASAN 1
#endif
#endif

#ifdef VOK_ASAN
extern "C" void __sanitizer_start_switch_fiber(void** fake_stack_save, const void* bottom,
                                               size_t size);
extern "C" void __sanitizer_finish_switch_fiber(void* fake_stack_save, const void** bottom_old,
                                                size_t* size_old);
extern "C" void __asan_unpoison_memory_region(void const volatile* addr, size_t size);
#endif

namespace vok::deep_recursion_detail {

namespace {

constexpr size_t kSegmentSize = size_t{16} << 20; // reserved, committed only as used
// Kept clear above the end of any stack: its guard page and whatever the platform keeps there.
constexpr size_t kEndMargin = 64 * 1024;
// The room assumed below the first frame that asks, on a thread whose stack nothing describes.
constexpr size_t kUnknownStackRoom = 256 * 1024;
// The main thread's stack size assumed when its limit is unlimited (the usual default).
constexpr size_t kUnlimitedStackSize = size_t{8} << 20;

constexpr size_t kKeptSegments = 4;

// The lowest address the current stack may grow to (a margin above its end).
thread_local char* t_limit = nullptr;

// Segments kept for reuse by this thread. Trivially destructible on purpose: it stays usable
// until the thread's very end, even after the reaper below has run (a thread_local destructor
// that runs later may still recurse deeply).
struct SegmentCache {
    void* segments[kKeptSegments];
    size_t count;
    bool closed; // the thread is ending: segments given back are unmapped at once
};
thread_local SegmentCache t_cache{};

// Segments currently mapped by every thread together.
std::atomic<size_t> g_mapped_segments{0};

void unmap_segment(void* mem) {
#ifdef VOK_ASAN
    // Frames that never returned on the segment leave poisoned shadow behind; whatever is mapped
    // at these addresses next (another thread's stack, say) must not inherit it.
    __asan_unpoison_memory_region(mem, kSegmentSize);
#endif
    munmap(mem, kSegmentSize);
    g_mapped_segments.fetch_sub(1, std::memory_order_relaxed);
}

// Unmaps the thread's kept segments when the thread ends. It is armed by the first segment a
// thread keeps, so threads that never recursed deeply register nothing.
struct SegmentReaper {
    bool armed = false;
    ~SegmentReaper() {
        while (t_cache.count > 0)
            unmap_segment(t_cache.segments[--t_cache.count]);
        t_cache.closed = true;
    }
};
thread_local SegmentReaper t_reaper;

std::atomic<bool> g_fail_stack_lookup{false};

size_t page_size() {
    static const size_t size = [] {
        const long page = sysconf(_SC_PAGESIZE);
        return page > 0 ? static_cast<size_t>(page) : size_t{4096};
    }();
    return size;
}

// The main thread's stack, when pthread cannot say: the kernel writes the program's file name at
// the top of it, and the stack may grow down from there as far as RLIMIT_STACK allows. Nothing
// when `frame` does not lie in that stretch (another thread's stack, say).
char* main_stack_limit(const char* frame) {
    const auto* name = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    if (name == nullptr) return nullptr;
    const uintptr_t page = page_size();
    const uintptr_t top =
        (reinterpret_cast<uintptr_t>(name) + std::strlen(name) + 1 + page - 1) & ~(page - 1);
    rlimit limit{};
    size_t size = kUnlimitedStackSize;
    if (getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        size = static_cast<size_t>(limit.rlim_cur);
    const uintptr_t here = reinterpret_cast<uintptr_t>(frame);
    if (here >= top || top - here >= size) return nullptr;
    return reinterpret_cast<char*>(top - size + kEndMargin);
}

// The lowest address the calling thread's stack may grow to, less a margin.
char* thread_stack_limit() {
    char here = 0;
    const auto frame = reinterpret_cast<uintptr_t>(&here);
    if (!g_fail_stack_lookup.load(std::memory_order_relaxed)) {
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            void* addr = nullptr;
            size_t size = 0;
            const int got = pthread_attr_getstack(&attr, &addr, &size);
            pthread_attr_destroy(&attr);
            const auto low = reinterpret_cast<uintptr_t>(addr);
            if (got == 0 && low != 0 && low + kEndMargin < frame && frame - low < size)
                return reinterpret_cast<char*>(low + kEndMargin);
        }
    }
    if (char* limit = main_stack_limit(&here)) return limit;
    return reinterpret_cast<char*>(frame > kUnknownStackRoom ? frame - kUnknownStackRoom : 0);
}

// A segment holds no live frames when it is taken, but AddressSanitizer may still hold the
// poisoned red zones of frames that never returned on it (the trampoline leaves by setcontext)
// or of an earlier mapping at the same addresses; stale poison there reads as a false report.
void* fresh_stack(void* mem) {
#ifdef VOK_ASAN
    __asan_unpoison_memory_region(mem, kSegmentSize);
#endif
    return mem;
}

[[gnu::noinline]] void* take_segment() {
    if (t_cache.count > 0) return fresh_stack(t_cache.segments[--t_cache.count]);
    void* mem = mmap(nullptr, kSegmentSize, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (mem == MAP_FAILED) throw std::bad_alloc();
    // A guard page at the end it grows towards; a segment without one is not taken.
    if (mprotect(mem, page_size(), PROT_NONE) != 0) {
        munmap(mem, kSegmentSize);
        throw std::bad_alloc();
    }
    g_mapped_segments.fetch_add(1, std::memory_order_relaxed);
    return fresh_stack(mem);
}

void give_back_segment(void* mem) {
    if (t_cache.closed || t_cache.count == kKeptSegments) {
        unmap_segment(mem);
        return;
    }
    t_reaper.armed = true; // registers the reaper for this thread's exit
    t_cache.segments[t_cache.count++] = mem;
}

struct Switch {
    ucontext_t caller;
    ucontext_t callee;
    void (*body)(void*);
    void* arg;
    std::exception_ptr error;
#ifdef VOK_ASAN
    void* fake_stack = nullptr;
    const void* caller_bottom = nullptr;
    size_t caller_size = 0;
#endif
};

// getcontext and swapcontext return twice; keeping them out of the function that owns the
// segment and the saved limit keeps those locals safe from being clobbered.
[[gnu::noinline]] void start_context(Switch& sw, void* mem, void (*entry)()) {
    getcontext(&sw.callee);
    sw.callee.uc_stack.ss_sp = mem;
    sw.callee.uc_stack.ss_size = kSegmentSize;
    sw.callee.uc_link = nullptr;
    auto bits = reinterpret_cast<uintptr_t>(&sw);
    makecontext(&sw.callee, entry, 2, static_cast<unsigned>(bits >> 32),
                static_cast<unsigned>(bits & 0xFFFFFFFFu));
}

[[gnu::noinline]] void switch_to(Switch& sw, void* mem) {
#ifdef VOK_ASAN
    __sanitizer_start_switch_fiber(&sw.fake_stack, mem, kSegmentSize);
#else
    (void)mem;
#endif
    swapcontext(&sw.caller, &sw.callee);
#ifdef VOK_ASAN
    __sanitizer_finish_switch_fiber(sw.fake_stack, nullptr, nullptr);
#endif
}

void trampoline(unsigned hi, unsigned lo) {
    auto* sw =
        reinterpret_cast<Switch*>((static_cast<uintptr_t>(hi) << 32) | static_cast<uintptr_t>(lo));
#ifdef VOK_ASAN
    __sanitizer_finish_switch_fiber(nullptr, &sw->caller_bottom, &sw->caller_size);
#endif
    try {
        sw->body(sw->arg);
    } catch (...) {
        sw->error = std::current_exception();
    }
#ifdef VOK_ASAN
    __sanitizer_start_switch_fiber(nullptr, sw->caller_bottom, sw->caller_size);
#endif
    setcontext(&sw->caller);
}

} // namespace

size_t mapped_segments() {
    return g_mapped_segments.load(std::memory_order_relaxed);
}

void fail_stack_lookup_for_testing(bool fail) {
    g_fail_stack_lookup.store(fail, std::memory_order_relaxed);
    t_limit = nullptr;
}

size_t remaining() {
    char here = 0;
    if (t_limit == nullptr) t_limit = thread_stack_limit();
    char* sp = &here;
    return sp > t_limit ? static_cast<size_t>(sp - t_limit) : 0;
}

void run_on_new_segment(void (*body)(void*), void* arg) {
    void* mem = take_segment();
    Switch sw;
    sw.body = body;
    sw.arg = arg;
    start_context(sw, mem, reinterpret_cast<void (*)()>(&trampoline));
    char* saved_limit = t_limit;
    t_limit = static_cast<char*>(mem) + page_size() + kEndMargin;
    switch_to(sw, mem);
    t_limit = saved_limit;
    give_back_segment(mem);
    if (sw.error) std::rethrow_exception(sw.error);
}

} // namespace vok::deep_recursion_detail
