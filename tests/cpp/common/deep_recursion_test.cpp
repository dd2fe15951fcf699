// Deep recursion through with_stack_room survives far past the thread's own stack.
#include <gtest/gtest.h>

#include <stdexcept>

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

} // namespace
} // namespace vok
