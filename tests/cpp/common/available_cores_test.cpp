// Worker threads only where no allocation can fail: a cap on the address space or the data
// segment, however high, leaves the calling thread alone.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include "common/available_cores.h"

namespace vok {
namespace {

TEST(CoresForWorkers, NoneBesideTheCallerUnderAMemoryCap) {
    EXPECT_GE(available_cores(), 1u);
    for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        rlimit saved{};
        ASSERT_EQ(getrlimit(resource, &saved), 0);
        if (saved.rlim_cur != RLIM_INFINITY) continue; // capped by whoever runs the tests
        rlimit capped = saved;
        capped.rlim_cur = RLIM_INFINITY - 1; // finite, if far beyond any use
        ASSERT_EQ(setrlimit(resource, &capped), 0);
        const size_t under_cap = cores_for_workers();
        ASSERT_EQ(setrlimit(resource, &saved), 0);
        EXPECT_EQ(under_cap, 1u);
    }
}

} // namespace
} // namespace vok
