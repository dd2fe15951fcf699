// Deep recursion through with_stack_room survives far past the thread's own stack.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "common/deep_recursion.h"

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

} // namespace
} // namespace vok
