// with_stack_room; see deep_recursion.h. A fresh stack segment is reserved with mmap (committed
// only as it is touched, behind a guard page) and entered by a plain call with the stack pointer
// moved (on x86-64; elsewhere with ucontext, whose every switch makes a system call); the
// thread's own stack limit comes from pthread. A few segments are kept per thread for reuse and
// unmapped when the thread ends, so short-lived threads that once recursed deeply leave nothing
// behind.
//
// Taking a segment early costs a little memory, overrunning the real stack costs the process, so
// every doubt counts against the room (see thread_stack_limit): a thread whose stack is no larger
// than the margin has none; pthread reads the main thread's stack from /proc, which minimal
// containers and sandboxes may not mount, and then the bound comes from the top of the stack and
// RLIMIT_STACK; the main stack grows only as far as the kernel lets it, which under a memory cap
// may be no further than it is mapped already, so there only the mapped stack counts. The limits
// are read again at each call from outside, since a program may lower them in between.
#include "common/deep_recursion.h"

#include <alloca.h>
#include <pthread.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#if !defined(__x86_64__)
#include <ucontext.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>

#include "common/available_cores.h"
#include "common/thread_preparation.h"

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
// The main thread's stack size assumed when its limit is unlimited (the usual default). The
// kernel lets an unlimited stack grow until it nears another mapping, and keeps a gap of its own
// there that pthread does not report.
constexpr size_t kUnlimitedStackSize = size_t{8} << 20;
// The gap the kernel keeps between a growing stack and the mapping below it (its default).
constexpr size_t kStackGuardGap = size_t{1} << 20;

// Room below a segment's top for the frames that enter it, beyond the room asked for.
constexpr size_t kSegmentEntry = 16 * 1024;

// The calling thread's state (in its ThreadState, whose address a call from outside has already
// and passes on; code without it reaches the thread_local).
StackState& this_thread() {
    return detail::thread_state.stack;
}

// The lowest address of the main thread's stack known to be mapped (zero when unknown).
std::atomic<uintptr_t> g_main_stack_mapped{0};
// The limits the thread's limit was worked out from. Only the resource limits are read again at
// each call: the system's overcommit setting, read from a file, counts as it was when they last
// changed.
struct LimitSources {
    rlim_t stack = 0;
    rlim_t address_space = 0;
    rlim_t data = 0;
    bool memory_capped = false;

    bool same_limits(const LimitSources& other) const {
        return stack == other.stack && address_space == other.address_space && data == other.data;
    }
};
thread_local LimitSources t_limit_sources{};

// Segments currently mapped by every thread together.
std::atomic<size_t> g_mapped_segments{0};

void unmap_segment(void* mem, size_t size = kSegmentSize) {
#ifdef VOK_ASAN
    // Frames that never returned on the segment leave poisoned shadow behind; whatever is mapped
    // at these addresses next (another thread's stack, say) must not inherit it.
    __asan_unpoison_memory_region(mem, size);
#endif
    munmap(mem, size);
    g_mapped_segments.fetch_sub(1, std::memory_order_relaxed);
}

// Unmaps the thread's kept segments when the thread ends. It is armed by the first segment a
// thread keeps, so threads that never recursed deeply register nothing.
struct SegmentReaper {
    bool armed = false;
    ~SegmentReaper() {
        StackState& thread = this_thread();
        while (thread.kept_count > 0)
            unmap_segment(thread.kept_segments[--thread.kept_count]);
        thread.closed = true;
    }
};
thread_local SegmentReaper t_reaper;
// Registering the reaper's destructor allocates: done when the thread is prepared, not when the
// thread first keeps a segment and memory may be short.
const ThreadLocalToucher touch_reaper([] {
    static_cast<void>(*static_cast<volatile bool*>(&t_reaper.armed));
});

std::atomic<bool> g_fail_stack_lookup{false};

size_t page_size() {
    static const size_t size = [] {
        const long page = sysconf(_SC_PAGESIZE);
        return page > 0 ? static_cast<size_t>(page) : size_t{4096};
    }();
    return size;
}

rlim_t current_limit(int resource) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0) return RLIM_INFINITY;
    return limit.rlim_cur;
}

bool is_main_thread() {
    return getpid() == gettid();
}

// The lowest address the main thread's stack may reach, given the top of its mapping: as far as
// RLIMIT_STACK allows, and kUnlimitedStackSize when it is unlimited.
uintptr_t main_stack_floor(uintptr_t top, rlim_t rlimit) {
    const size_t size = rlimit == RLIM_INFINITY ? kUnlimitedStackSize : static_cast<size_t>(rlimit);
    return top > size ? top - size : 0;
}

// The top of the main thread's stack mapping, read without /proc: the kernel writes the program's
// file name at the very top of it. Zero when the C library cannot say.
uintptr_t main_stack_top() {
    const auto* name = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    if (name == nullptr) return 0;
    const uintptr_t page = page_size();
    return (reinterpret_cast<uintptr_t>(name) + std::strlen(name) + 1 + page - 1) & ~(page - 1);
}

// Whether every page of [low, high) is mapped (msync answers ENOMEM for a hole, without /proc).
bool all_mapped(uintptr_t low, uintptr_t high) {
    return msync(reinterpret_cast<void*>(low), high - low, MS_ASYNC) == 0;
}

// The lowest address of the main thread's stack as mapped now, found between `floor` and the
// frame's page. Where memory is capped the kernel may refuse to grow the stack any further, and
// touching below this address would then end the process.
uintptr_t committed_stack_low(uintptr_t floor, uintptr_t frame) {
    const uintptr_t page = page_size();
    const uintptr_t frame_page = frame & ~(page - 1);
    floor = (floor + page - 1) & ~(page - 1);
    if (floor >= frame_page) return frame_page;
    // The lowest mapped page in [floor, frame_page] from which everything up to the frame is
    // mapped, by bisection on whole pages.
    uintptr_t mapped = frame_page; // [mapped, frame_page + page) is known mapped
    uintptr_t unknown = floor;     // the candidate below which nothing is known
    if (all_mapped(floor, frame_page + page)) return floor;
    while (mapped - unknown > page) {
        const uintptr_t middle = unknown + ((mapped - unknown) / page / 2) * page;
        if (all_mapped(middle, frame_page + page)) {
            mapped = middle;
        } else {
            unknown = middle;
        }
    }
    return mapped;
}

// The lowest address the calling thread's stack may grow to, less a margin. At or above the frame
// when there is no room at all: guards then take a segment at once.
uintptr_t thread_stack_limit(const LimitSources& sources) {
    char here = 0;
    const auto frame = reinterpret_cast<uintptr_t>(&here);
    const bool main_thread = is_main_thread();
    const uintptr_t top = main_thread ? main_stack_top() : 0;
    const bool below_top = top != 0 && frame < top;
    uintptr_t low = 0;
    bool known = false;
    if (!g_fail_stack_lookup.load(std::memory_order_relaxed)) {
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            void* addr = nullptr;
            size_t size = 0;
            const int got = pthread_attr_getstack(&attr, &addr, &size);
            pthread_attr_destroy(&attr);
            const auto stack_low = reinterpret_cast<uintptr_t>(addr);
            if (got == 0 && stack_low != 0 && stack_low < frame && frame - stack_low < size) {
                low = stack_low;
                known = true;
            }
        }
    }
    if (main_thread) {
        // pthread bounds the main stack by RLIMIT_STACK and by the mapping below it, but not by
        // the gap the kernel keeps before that mapping, nor at all when the limit is unlimited.
        const uintptr_t page = page_size();
        if (below_top) {
            const uintptr_t floor = main_stack_floor(top, sources.stack);
            if (!known || low <= floor + page) {
                low = std::max(low, floor);
            } else {
                low += kStackGuardGap;
            }
            known = frame > low;
        } else if (known) {
            low += kStackGuardGap;
            if (sources.stack == RLIM_INFINITY && frame > kUnlimitedStackSize)
                low = std::max(low, frame - kUnlimitedStackSize);
        }
    }
    // A stack nothing describes gets no room: the first guard takes a segment.
    if (!known) return frame;
    if (main_thread && sources.memory_capped && low < frame) {
        const uintptr_t mapped = committed_stack_low(low, frame);
        g_main_stack_mapped.store(mapped, std::memory_order_relaxed);
        low = std::max(low, mapped);
    }
    // Within the margin of the end already: no room (never a wrap below address zero).
    return low + kEndMargin;
}

// A segment holds no live frames when it is taken, but AddressSanitizer may still hold the
// poisoned red zones of frames that never returned on it (the ucontext trampoline leaves by
// setcontext) or of an earlier mapping at the same addresses; stale poison there reads as a false
// report.
void* fresh_stack(void* mem, size_t size) {
#ifdef VOK_ASAN
    __asan_unpoison_memory_region(mem, size);
#else
    (void)size;
#endif
    return mem;
}

// The size of segment that leaves `room` below the frames that enter it: the usual size, or more
// for caller's code given the room of a thread whose stack is larger still.
size_t segment_size_for(size_t room) {
    const size_t page = page_size();
    const size_t wanted = page + kEndMargin + kSegmentEntry + room;
    if (wanted <= kSegmentSize) return kSegmentSize;
    return (wanted + page - 1) & ~(page - 1);
}

// Out of line: a call finds a kept segment as a rule.
[[gnu::noinline]] void* map_segment(size_t size) {
    void* mem = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (mem == MAP_FAILED) throw std::bad_alloc();
    // A guard page at the end it grows towards; a segment without one is not taken.
    if (mprotect(mem, page_size(), PROT_NONE) != 0) {
        munmap(mem, size);
        throw std::bad_alloc();
    }
    g_mapped_segments.fetch_add(1, std::memory_order_relaxed);
    return fresh_stack(mem, size);
}

// Segments of the usual size come from the thread's cache when it keeps one.
void* take_segment(StackState& thread, size_t size) {
    if (size == kSegmentSize && thread.kept_count > 0) [[likely]]
        return fresh_stack(thread.kept_segments[--thread.kept_count], size);
    return map_segment(size);
}

void give_back_segment(StackState& thread, void* mem, size_t size) {
    if (size != kSegmentSize || thread.closed || thread.kept_count == kKeptSegments) {
        unmap_segment(mem, size);
        return;
    }
    if (!thread.reaper_armed) [[unlikely]] {
        t_reaper.armed = true; // registers the reaper for this thread's exit
        thread.reaper_armed = true;
    }
    thread.kept_segments[thread.kept_count++] = mem;
}

struct Switch {
    void (*body)(void*);
    void* arg;
    std::exception_ptr error;
#ifdef VOK_ASAN
    void* fake_stack = nullptr;
    const void* caller_bottom = nullptr;
    size_t caller_size = 0;
#endif
};

// The body, on the segment. Nothing it throws may leave the segment: the frames above belong to
// another stack.
[[gnu::noinline]] void run_body(Switch& sw) noexcept {
    try {
        sw.body(sw.arg);
    } catch (...) {
        sw.error = std::current_exception();
    }
}

// What runs first on the segment: the body, between the sanitizer's notes of the switches.
void run_on_segment(Switch& sw) noexcept {
#ifdef VOK_ASAN
    __sanitizer_finish_switch_fiber(nullptr, &sw.caller_bottom, &sw.caller_size);
#endif
    run_body(sw);
#ifdef VOK_ASAN
    __sanitizer_start_switch_fiber(nullptr, sw.caller_bottom, sw.caller_size);
#endif
}

#if defined(__x86_64__)

} // namespace
} // namespace vok::deep_recursion_detail

// Calls fn(arg) with the stack pointer at `top` (16-byte aligned) and returns on the caller's
// stack: a plain call and return, so only the frame pointer is saved and no system call is made.
// The frame pointer holds the caller's stack meanwhile, and the unwind table says so, so debuggers
// and sanitizers trace through the switch.
extern "C" void vok_call_on_stack(void* arg, void (*fn)(void*), void* top);
asm(R"(
    .pushsection .text
    .p2align 4
    .globl vok_call_on_stack
    .hidden vok_call_on_stack
    .type vok_call_on_stack, @function
vok_call_on_stack:
    .cfi_startproc
    pushq %rbp
    .cfi_def_cfa_offset 16
    .cfi_offset %rbp, -16
    movq %rsp, %rbp
    .cfi_def_cfa_register %rbp
    movq %rdx, %rsp
    callq *%rsi
    movq %rbp, %rsp
    popq %rbp
    .cfi_def_cfa %rsp, 8
    retq
    .cfi_endproc
    .size vok_call_on_stack, .-vok_call_on_stack
    .popsection
)");

namespace vok::deep_recursion_detail {
namespace {

void segment_entry(void* p) {
    run_on_segment(*static_cast<Switch*>(p));
}

void call_on_segment(Switch& sw, void* mem, size_t size) {
#ifdef VOK_ASAN
    __sanitizer_start_switch_fiber(&sw.fake_stack, mem, size);
#endif
    const uintptr_t top = (reinterpret_cast<uintptr_t>(mem) + size) & ~uintptr_t{15};
    vok_call_on_stack(&sw, &segment_entry, reinterpret_cast<void*>(top));
#ifdef VOK_ASAN
    __sanitizer_finish_switch_fiber(sw.fake_stack, nullptr, nullptr);
#endif
}

#else

struct Contexts {
    ucontext_t caller;
    ucontext_t callee;
    Switch* sw;
};

void trampoline(unsigned hi, unsigned lo) {
    auto* contexts = reinterpret_cast<Contexts*>((static_cast<uintptr_t>(hi) << 32) |
                                                 static_cast<uintptr_t>(lo));
    run_on_segment(*contexts->sw);
    setcontext(&contexts->caller);
}

// getcontext and swapcontext return twice; keeping them out of the function that owns the
// segment and the saved limit keeps those locals safe from being clobbered.
[[gnu::noinline]] void call_on_segment(Switch& sw, void* mem, size_t size) {
    Contexts contexts;
    contexts.sw = &sw;
    getcontext(&contexts.callee);
    contexts.callee.uc_stack.ss_sp = mem;
    contexts.callee.uc_stack.ss_size = size;
    contexts.callee.uc_link = nullptr;
    const auto bits = reinterpret_cast<uintptr_t>(&contexts);
    makecontext(&contexts.callee, reinterpret_cast<void (*)()>(&trampoline), 2,
                static_cast<unsigned>(bits >> 32), static_cast<unsigned>(bits & 0xFFFFFFFFu));
#ifdef VOK_ASAN
    __sanitizer_start_switch_fiber(&sw.fake_stack, mem, size);
#endif
    swapcontext(&contexts.caller, &contexts.callee);
#ifdef VOK_ASAN
    __sanitizer_finish_switch_fiber(sw.fake_stack, nullptr, nullptr);
#endif
}

#endif

// How far below the loading frame the main stack's mapping is made to reach ahead: enough for the
// guards' red zone and margin with room to spare.
constexpr size_t kMappedAhead = 512 * 1024;

// Touches the stack from the caller's frame down `bytes`, a page at a time in the order the stack
// grows, so that the kernel extends its mapping that far.
[[gnu::noinline]] void touch_stack(size_t bytes) {
    auto* block = static_cast<volatile char*>(alloca(bytes));
    for (size_t offset = bytes; offset >= page_size(); offset -= page_size())
        block[offset - 1] = 0;
    block[0] = 0;
}

} // namespace

void map_main_stack_ahead() noexcept {
    if (this_thread().segments_entered > 0 || !is_main_thread() || memory_capped()) return;
    char here = 0;
    const auto frame = reinterpret_cast<uintptr_t>(&here);
    LimitSources sources;
    sources.stack = current_limit(RLIMIT_STACK);
    const uintptr_t limit = thread_stack_limit(sources);
    if (limit >= frame) return;
    const size_t bytes = std::min<size_t>(frame - limit, kMappedAhead);
    touch_stack(bytes);
    // The pages touched are handed back; the mapping keeps its extent, which is what counts.
    const uintptr_t page = page_size();
    const uintptr_t low = (frame - bytes + page - 1) & ~(page - 1);
    const uintptr_t high = (frame - 2 * page) & ~(page - 1);
    if (high > low) madvise(reinterpret_cast<void*>(low), high - low, MADV_DONTNEED);
    g_main_stack_mapped.store(low, std::memory_order_relaxed);
}

size_t mapped_segments() {
    return g_mapped_segments.load(std::memory_order_relaxed);
}

void fail_stack_lookup_for_testing(bool fail) {
    g_fail_stack_lookup.store(fail, std::memory_order_relaxed);
    StackState& thread = this_thread();
    thread.limit = nullptr;
    thread.system_limit = nullptr;
}

namespace {

[[gnu::noinline]] void find_stack_limit(StackState& thread) {
    if (thread.limit == nullptr) thread.on_main_thread = is_main_thread();
    thread.limit_stale = false;
    thread.limit_provisional = false;
    LimitSources sources;
    sources.stack = current_limit(RLIMIT_STACK);
    sources.address_space = current_limit(RLIMIT_AS);
    sources.data = current_limit(RLIMIT_DATA);
    if (thread.system_limit == nullptr || !sources.same_limits(t_limit_sources)) {
        sources.memory_capped = memory_capped();
        t_limit_sources = sources;
        thread.system_limit = reinterpret_cast<char*>(thread_stack_limit(sources));
    }
    thread.limit = thread.system_limit;
    // Whatever the limits say, the stack mapped already may be used.
    const uintptr_t mapped = g_main_stack_mapped.load(std::memory_order_relaxed);
    if (thread.on_main_thread && mapped != 0)
        thread.limit = std::min(thread.limit, reinterpret_cast<char*>(mapped + kEndMargin));
}

[[gnu::always_inline]] inline size_t remaining(StackState& thread) {
    char here = 0;
    const auto sp = reinterpret_cast<uintptr_t>(&here);
    if (thread.limit == nullptr || thread.limit_stale) [[unlikely]]
        find_stack_limit(thread);
    auto limit = reinterpret_cast<uintptr_t>(thread.limit);
    if (thread.limit_provisional && (sp <= limit || sp - limit <= kRedZone)) [[unlikely]] {
        find_stack_limit(thread);
        limit = reinterpret_cast<uintptr_t>(thread.limit);
    }
    return sp > limit ? sp - limit : 0;
}

// When a call from outside starts on the main thread, the caller may have lowered RLIMIT_STACK or
// capped memory since the limit was worked out. (Any other thread's stack is mapped whole when the
// thread starts, and neither changes it.) The call then takes the stack mapped already as its
// limit, which neither can take away, and marks it provisional: the limits are read again (three
// system calls) only by a call that reaches near it. Where nothing is known to be mapped, the limit
// is stale instead, and read again at the next guard.
size_t start_call(StackState& thread) {
    // On a segment (a call made by code that a poll ran) the limit is the segment's own.
    if (thread.on_main_thread && thread.segments_entered == 0) {
        const uintptr_t mapped = g_main_stack_mapped.load(std::memory_order_relaxed);
        if (mapped != 0) {
            thread.limit = reinterpret_cast<char*>(mapped + kEndMargin);
            thread.limit_provisional = true;
        } else {
            thread.limit_stale = true;
        }
    }
    return remaining(thread);
}

// The room a call beginning at `frame`, whose guards count `room`, has by the thread's limits. On
// the main thread the guards count only up to the stack mapped already until they reach it (see
// start_call); the room caller's code is given is the whole, as it would have at the call's site.
// The limits are those last read; ones changed since and not yet read again give a segment more
// room than needed, or (a raised limit) as much as before.
size_t thread_room(StackState& thread, uintptr_t frame, size_t room) {
    if (thread.segments_entered > 0 || !thread.on_main_thread) return room;
    // The limits are read once for the thread (which leaves the call a limit read afresh); later
    // calls find them here.
    if (thread.system_limit == nullptr) find_stack_limit(thread);
    const auto limit = reinterpret_cast<uintptr_t>(thread.system_limit);
    return frame > limit ? frame - limit : 0;
}

} // namespace

size_t remaining() {
    return remaining(this_thread());
}

size_t call_started() noexcept {
    return start_call(this_thread());
}

size_t callers_room() noexcept {
    return this_thread().call_start.room;
}

bool callers_room_left() noexcept {
    StackState& thread = this_thread();
    const CallStart& start = thread.call_start;
    if (start.room == 0) return true;
    if (thread.segments_entered == start.segments) {
        char here = 0;
        const auto frame = reinterpret_cast<uintptr_t>(&here);
        return frame >= start.frame || start.frame - frame <= kCallerAllowance;
    }
    return remaining(thread) + kCallerAllowance >= start.room;
}

void run_on_new_segment(StackState& thread, void (*body)(void*), void* arg, size_t room) {
    const size_t size = segment_size_for(room);
    void* mem = take_segment(thread, size);
    Switch sw;
    sw.body = body;
    sw.arg = arg;
    // On the segment its own limit holds, whatever the thread's limits are.
    char* saved_limit = thread.limit;
    const bool saved_stale = thread.limit_stale;
    const bool saved_provisional = thread.limit_provisional;
    thread.limit = static_cast<char*>(mem) + page_size() + kEndMargin;
    thread.limit_stale = false;
    thread.limit_provisional = false;
    ++thread.segments_entered;
    call_on_segment(sw, mem, size);
    --thread.segments_entered;
    thread.limit = saved_limit;
    thread.limit_stale = saved_stale;
    thread.limit_provisional = saved_provisional;
    give_back_segment(thread, mem, size);
    if (sw.error) std::rethrow_exception(sw.error);
}

void run_on_new_segment(void (*body)(void*), void* arg, size_t room) {
    run_on_new_segment(this_thread(), body, arg, room);
}

} // namespace vok::deep_recursion_detail

namespace vok {

OutsideCall::OutsideCall() noexcept : OutsideCall(deep_recursion_detail::this_thread()) {}

OutsideCall::OutsideCall(deep_recursion_detail::StackState& thread) noexcept
    : thread_(&thread), room_(deep_recursion_detail::start_call(thread)),
      outer_(thread.call_start) {
    char here = 0;
    const auto frame = reinterpret_cast<uintptr_t>(&here);
    thread.call_start = {frame, thread.segments_entered,
                         deep_recursion_detail::thread_room(thread, frame, room_)};
}

} // namespace vok
