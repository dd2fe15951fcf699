// Deep recursion through with_stack_room survives far past the thread's own stack.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/resource.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/deep_recursion.h"
#include "common/thread_preparation.h"

namespace vok {
namespace {

// A deliberately stack-hungry recursion.
size_t depth_sum(size_t n) {
    volatile char pad[256];
    pad[0] = static_cast<char>(n);
    if (n == 0) return pad[0];
    return 1 + with_stack_room([&] { return depth_sum(n - 1); });
}

void throw_at_bottom(size_t n) {
    if (n == 0) throw std::runtime_error("bottom");
    with_stack_room([&] { throw_at_bottom(n - 1); });
}

TEST(StackRoom, RecursesAMillionLevels) {
    EXPECT_EQ(depth_sum(1000000), 1000000u);
}

TEST(StackRoom, ExceptionsCrossSegmentsIntact) {
    EXPECT_THROW(throw_at_bottom(200000), std::runtime_error);
    // And the thread is usable afterwards.
    EXPECT_EQ(depth_sum(300000), 300000u);
}

TEST(StackRoom, ThreadsReturnTheirSegmentsWhenTheyEnd) {
    using deep_recursion_detail::mapped_segments;
    // The calling thread keeps what it needed and reuses it: a second deep call maps nothing.
    EXPECT_EQ(depth_sum(300000), 300000u);
    const size_t kept = mapped_segments();
    EXPECT_EQ(depth_sum(300000), 300000u);
    EXPECT_EQ(mapped_segments(), kept);

    // Threads that ended hold nothing, whether they ran one after another or side by side, and
    // whether their deep call returned or threw.
    for (int round = 0; round < 3; ++round) {
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i) {
            threads.emplace_back([i] {
                if (i % 2 == 0) {
                    EXPECT_EQ(depth_sum(300000), 300000u);
                } else {
                    EXPECT_THROW(throw_at_bottom(200000), std::runtime_error);
                }
            });
        }
        for (std::thread& t : threads)
            t.join();
        EXPECT_EQ(mapped_segments(), kept) << "round " << round;
    }
}

// Where /proc is not mounted pthread cannot describe the main thread's stack; the bound is then
// estimated, on the main thread and on any other, and deep recursion still moves to segments in
// time.
TEST(StackRoom, SurvivesWithoutTheStackBoundsLookup) {
    using deep_recursion_detail::fail_stack_lookup_for_testing;
    using deep_recursion_detail::remaining;
    struct Restore {
        ~Restore() { fail_stack_lookup_for_testing(false); }
    } restore;
    fail_stack_lookup_for_testing(false);
    const size_t room = remaining();
    fail_stack_lookup_for_testing(true);
    // Estimated, the room is never more than there is.
    EXPECT_LE(remaining(), room);
    EXPECT_GT(remaining(), deep_recursion_detail::kRedZone);
    EXPECT_EQ(depth_sum(1000000), 1000000u);
    EXPECT_THROW(throw_at_bottom(200000), std::runtime_error);
    std::thread other([] {
        fail_stack_lookup_for_testing(true);
        EXPECT_LE(remaining(), size_t{256} * 1024);
        EXPECT_EQ(depth_sum(300000), 300000u);
    });
    other.join();
}

// Runs `body` on a new thread whose stack is `bytes` large, as threading.stack_size() makes them.
void on_thread_with_stack(size_t bytes, void (*body)()) {
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, bytes), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* f) -> void* {
                      reinterpret_cast<void (*)()>(f)();
                      return nullptr;
                  },
                  reinterpret_cast<void*>(body)),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

TEST(StackRoom, ThreadsWithSmallStacksRecurseOnSegments) {
    using deep_recursion_detail::remaining;
    // A stack no larger than the margin kept above its end (64 KiB) has no room to count at all,
    // and on any stack the first guard with less than the red zone left moves to a segment.
    for (const size_t kib : {48, 64, 72, 96, 160, 256}) {
        static size_t stack_bytes;
        stack_bytes = kib * 1024;
        on_thread_with_stack(stack_bytes, [] {
            EXPECT_LT(remaining(), stack_bytes);
            if (stack_bytes <= 64 * 1024) {
                EXPECT_EQ(remaining(), 0u);
            }
            EXPECT_EQ(depth_sum(200000), 200000u);
            EXPECT_THROW(throw_at_bottom(50000), std::runtime_error);
        });
    }
}

TEST(StackRoom, ALoweredStackLimitCountsFromTheNextCall) {
    using deep_recursion_detail::call_started;
    using deep_recursion_detail::remaining;
    rlimit original{};
    ASSERT_EQ(getrlimit(RLIMIT_STACK, &original), 0);
    call_started();
    const size_t room = remaining();
    rlimit lowered = original;
    lowered.rlim_cur = 1024 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_STACK, &lowered), 0);
    call_started();
    EXPECT_LT(remaining(), size_t{1024 * 1024});
    EXPECT_EQ(depth_sum(300000), 300000u);
    ASSERT_EQ(setrlimit(RLIMIT_STACK, &original), 0);
    call_started();
    EXPECT_EQ(remaining(), room);
}

size_t mapped_bytes() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return 0;
    char line[256];
    size_t kib = 0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, "VmSize:", 7) == 0) kib = std::strtoul(line + 7, nullptr, 10);
    }
    std::fclose(status);
    return kib * 1024;
}

[[noreturn]] void recurse_under_cap(size_t cap) {
    const rlimit limit{cap, RLIM_INFINITY};
    if (setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(3);
    deep_recursion_detail::call_started();
    try {
        std::_Exit(depth_sum(400000) == 400000u ? 0 : 4);
    } catch (const std::bad_alloc&) {
        std::_Exit(0);
    }
}

// Under a cap on the address space the kernel may refuse to extend the main stack: the guards
// count only the stack mapped already, and a segment that cannot be mapped is bad_alloc. Caps
// from none beyond what the process maps to plenty: each gives the result or bad_alloc, never a
// signal.
TEST(StackRoom, UnderAnAddressSpaceCapOnlyTheMappedStackCounts) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's runtime does not survive a capped address space";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const size_t extra_mib : {0, 1, 4, 17, 40, 120}) {
        static size_t extra;
        extra = extra_mib;
        EXPECT_EXIT(recurse_under_cap(mapped_bytes() + (extra << 20)), testing::ExitedWithCode(0),
                    "")
            << extra_mib << " MiB";
    }
}

} // namespace
} // namespace vok

namespace vok {
namespace {

// Whether two addresses lie close together, as two frames of one stack do.
bool near(const void* a, const void* b) {
    const auto x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
    return (x > y ? x - y : y - x) < size_t{1} << 20;
}

// Whether `address` lies in the calling thread's own stack rather than on a segment. Asked of the
// stack's bounds: a segment may be mapped right beside a small thread's stack, within any distance
// near() could allow.
bool on_threads_stack(const void* address) {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) {
        ADD_FAILURE() << "the thread's stack cannot be found";
        return false;
    }
    void* base = nullptr;
    size_t size = 0;
    pthread_attr_getstack(&attributes, &base, &size);
    pthread_attr_destroy(&attributes);
    const auto at = reinterpret_cast<uintptr_t>(address), low = reinterpret_cast<uintptr_t>(base);
    return at >= low && at - low < size;
}

// Recurses about `bytes` deep through the guard, then runs `f` as code of the caller's.
template <class F> void at_depth(size_t bytes, F& f) {
    volatile char pad[1024];
    pad[0] = 0;
    if (bytes < sizeof pad) {
        with_callers_room(f);
        return;
    }
    with_stack_room([&] { at_depth(bytes - sizeof pad, f); });
}

// Code of the caller's run deep inside a call starts with at least the room the call had: in
// place while the call has used little of it, on a segment of that size where it has used more,
// on the main thread (whose room the guards count only as far as the stack is mapped) and on
// threads large and small.
void callers_code_gets_the_calls_room() {
    using deep_recursion_detail::mapped_segments;
    using deep_recursion_detail::remaining;
    const OutsideCall call;
    const size_t room = deep_recursion_detail::callers_room();
    ASSERT_GE(room, call.room());
    char start = 0;
    for (const size_t depth : {size_t{0}, size_t{16} << 10, size_t{200} << 10, room / 2,
                               room - (room / 8), room + (size_t{3} << 20)}) {
        size_t left = 0;
        ptrdiff_t used = -1; // of the call's own stack, when the code ran there
        const size_t segments = mapped_segments();
        auto probe = [&] {
            char here = 0;
            if (on_threads_stack(&here)) {
                used = &start - &here;
            } else {
                left = remaining();
            }
        };
        at_depth(depth, probe);
        if (used >= 0) {
            EXPECT_LE(size_t(used), deep_recursion_detail::kCallerAllowance + 4096) << depth;
        } else {
            EXPECT_GE(left + deep_recursion_detail::kCallerAllowance, room) << depth;
        }
        if (depth == 0) {
            EXPECT_GE(used, 0);
        }
        // A segment larger than those kept for reuse is given back at once.
        EXPECT_LE(mapped_segments(), segments + 4) << depth;
    }
}

TEST(CallersRoom, HoldsAtAnyDepthOfACall) {
    callers_code_gets_the_calls_room();
    for (const size_t kib : {64, 192, 1024, 40 * 1024}) {
        static size_t stack_bytes;
        stack_bytes = kib * 1024;
        on_thread_with_stack(stack_bytes, [] {
            callers_code_gets_the_calls_room();
            if (stack_bytes > (size_t{32} << 20)) {
                // More room than a usual segment holds: the segment is made as large.
                const OutsideCall call;
                EXPECT_GT(deep_recursion_detail::callers_room(), size_t{16} << 20);
            }
        });
    }
}

TEST(CallersRoom, NestedCallsKeepTheirOwnAndExceptionsCrossBack) {
    const OutsideCall outer;
    const size_t room = deep_recursion_detail::callers_room();
    auto inner_call = [&] {
        // Caller's code that calls again: the inner call counts from where it begins.
        {
            const OutsideCall inner;
            EXPECT_EQ(deep_recursion_detail::callers_room(), inner.room());
        }
        EXPECT_EQ(deep_recursion_detail::callers_room(), room);
        throw std::runtime_error("from the caller's code");
    };
    EXPECT_THROW(at_depth(room / 2, inner_call), std::runtime_error);
    EXPECT_EQ(deep_recursion_detail::callers_room(), room);
}

// A call made with its thread's state at hand, as the Python frame makes it: its work runs in place
// where the call has room and on a segment where it has not; a call that caller's code makes there
// keeps its own room; once the work is done, returned or thrown, the thread's limit and call are
// as they were.
void calls_with_the_threads_state() {
    using deep_recursion_detail::callers_room;
    using deep_recursion_detail::remaining;
    ThreadState* const thread = prepare_thread();
    ASSERT_NE(thread, nullptr);
    {
        const OutsideCall call(thread->stack);
        const size_t room = callers_room();
        const size_t limit_room = remaining();
        bool in_place = false;
        size_t inner_room = 0, inner_recorded = 0, restored = 0;
        const int answer = call.run([&] {
            char here = 0;
            in_place = on_threads_stack(&here);
            with_callers_room([&] {
                const OutsideCall inner(thread->stack);
                inner_room = inner.room();
                inner_recorded = callers_room();
                // Room enough where it begins: in place, whether that is a segment or not.
                inner.run([&] {
                    char inner_here = 0;
                    EXPECT_TRUE(near(&inner_here, &here));
                });
            });
            restored = callers_room();
            return 42;
        });
        EXPECT_EQ(answer, 42);
        EXPECT_EQ(in_place, call.room() > deep_recursion_detail::kRedZone);
        EXPECT_GT(inner_room, deep_recursion_detail::kRedZone);
        EXPECT_GE(inner_recorded, inner_room);
        EXPECT_EQ(restored, room);
        EXPECT_THROW(call.run([]() -> int { throw std::runtime_error("from the work"); }),
                     std::runtime_error);
        EXPECT_EQ(callers_room(), room);
        EXPECT_EQ(remaining(), limit_room);
    }
    EXPECT_EQ(callers_room(), 0u);
}

TEST(CallersRoom, CallsMadeWithTheThreadsStateKeepItRight) {
    const size_t segments = deep_recursion_detail::mapped_segments();
    calls_with_the_threads_state();
    for (const size_t kib : {64, 192, 1024}) {
        on_thread_with_stack(kib * 1024, calls_with_the_threads_state);
    }
    // The segments of threads that ended went with them.
    EXPECT_EQ(deep_recursion_detail::mapped_segments(), segments);
}

TEST(CallersRoom, OutsideAnyCallCodeRunsInPlace) {
    EXPECT_EQ(deep_recursion_detail::callers_room(), 0u);
    char start = 0;
    bool in_place = false;
    auto probe = [&] {
        char here = 0;
        in_place = near(&here, &start);
    };
    at_depth(size_t{64} << 10, probe);
    EXPECT_TRUE(in_place);
}

} // namespace
} // namespace vok
