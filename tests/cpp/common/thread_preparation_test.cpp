// The state prepare_thread hands a call is its own thread's, the one the guards and polls use.
#include <gtest/gtest.h>

#include <thread>

#include "common/cancellation.h"
#include "common/deep_recursion.h"
#include "common/thread_preparation.h"

namespace vok {
namespace {

bool always_stop(void*) {
    return true;
}

bool never_stop(void*) {
    return false;
}

// What is installed through the state is what the thread's own polls and guards see, and scopes
// made either way nest with each other.
void state_is_the_threads_own() {
    ThreadState* const thread = prepare_thread();
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(prepare_thread(), thread);
    {
        const CancellationScope outer(thread->cancellation, always_stop, nullptr);
        {
            const CancellationScope inner(never_stop, nullptr);
            poll_cancellation_now();
        }
        EXPECT_THROW(poll_cancellation_now(), OperationCancelled);
        {
            const OutsideCall call(thread->stack);
            const size_t room = deep_recursion_detail::callers_room();
            EXPECT_GE(room, call.room());
            { const OutsideCall nested; }
            EXPECT_EQ(deep_recursion_detail::callers_room(), room);
        }
        EXPECT_EQ(deep_recursion_detail::callers_room(), 0u);
    }
    poll_cancellation_now(); // nothing installed any more
}

TEST(ThreadPreparation, EachThreadIsHandedItsOwnState) {
    state_is_the_threads_own();
    const ThreadState* const main_state = prepare_thread();
    const ThreadState* other_state = nullptr;
    std::thread other([&] {
        state_is_the_threads_own();
        other_state = prepare_thread();
    });
    other.join();
    EXPECT_NE(other_state, nullptr);
    EXPECT_NE(other_state, main_state);
    EXPECT_EQ(prepare_thread(), main_state);
}

} // namespace
} // namespace vok
