// Dropping large values: in place when a scope ends normally, off the thread when it is left by
// an exception, and in steps that a cancellation may stop without losing the rest.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <future>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/cancellation.h"
#include "common/dropping.h"

namespace vok {
namespace {

// Tells, when destroyed (and not moved from), the thread that destroyed it.
class Witness {
public:
    explicit Witness(std::promise<std::thread::id>& destroyed) : destroyed_(&destroyed) {}
    Witness(Witness&& other) noexcept : destroyed_(std::exchange(other.destroyed_, nullptr)) {}
    Witness& operator=(Witness&&) = delete;
    ~Witness() {
        if (destroyed_ != nullptr) destroyed_->set_value(std::this_thread::get_id());
    }

private:
    std::promise<std::thread::id>* destroyed_;
};

// The thread that destroys a value handed off as an exception leaves its scope.
std::thread::id thread_dropping_on_unwind() {
    std::promise<std::thread::id> handed;
    EXPECT_THROW(
        {
            std::vector<Witness> value;
            value.emplace_back(handed);
            const HandOffOnUnwind hand_off(value);
            throw std::runtime_error("stopped");
        },
        std::runtime_error);
    return handed.get_future().get();
}

TEST(Dropping, AScopeLeftNormallyDropsInPlaceAndOneLeftByAnExceptionElsewhere) {
    std::promise<std::thread::id> kept;
    {
        std::vector<Witness> value;
        value.emplace_back(kept);
        const HandOffOnUnwind hand_off(value);
    }
    EXPECT_EQ(kept.get_future().get(), std::this_thread::get_id());

    EXPECT_NE(thread_dropping_on_unwind(), std::this_thread::get_id());
}

// Under a memory cap a new thread may end the process when it first reaches thread-local
// storage, as destructors do: what would go elsewhere is dropped in place.
TEST(Dropping, UnderAMemoryCapEverythingDropsInPlace) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
    if (saved.rlim_cur == RLIM_INFINITY) {
        rlimit capped = saved;
        capped.rlim_cur = RLIM_INFINITY - 1; // finite, if far beyond any use
        ASSERT_EQ(setrlimit(RLIMIT_AS, &capped), 0);
    }
    const std::thread::id dropped_on = thread_dropping_on_unwind();
    ASSERT_EQ(setrlimit(RLIMIT_AS, &saved), 0);
    EXPECT_EQ(dropped_on, std::this_thread::get_id());
}

bool stop_at_countdown(void* context) {
    return --*static_cast<int*>(context) <= 0;
}

TEST(Dropping, StepsStoppedHandTheRestOff) {
    // Every element holds the token: it is free again once all of them are gone.
    const auto token = std::make_shared<int>(0);
    std::vector<std::shared_ptr<int>> items(10 * kCancellationPollInterval, token);
    int left = 3;
    {
        const CancellationScope scope(stop_at_countdown, &left);
        EXPECT_THROW(drop_in_steps(items), OperationCancelled);
    }
    EXPECT_EQ(left, 0);
    EXPECT_TRUE(items.empty());
    while (token.use_count() > 1)
        std::this_thread::yield();

    // Not stopped, every element goes here.
    std::vector<std::shared_ptr<int>> more(3 * kCancellationPollInterval, token);
    drop_in_steps(more);
    EXPECT_TRUE(more.empty());
    EXPECT_EQ(token.use_count(), 1);
}

} // namespace
} // namespace vok
