// Cancellation: the installed check is consulted periodically and stops the work by unwinding.
#include <gtest/gtest.h>

#include "common/cancellation.h"

namespace vok {
namespace {

bool stop_after_countdown(void* context) {
    auto* remaining = static_cast<int*>(context);
    return --*remaining <= 0;
}

TEST(Cancellation, WithoutACheckPollingNeverStops) {
    for (uint32_t i = 0; i < 10 * kCancellationPollInterval; ++i)
        poll_cancellation();
    poll_cancellation_now();
}

TEST(Cancellation, TheCheckIsAskedPeriodicallyAndStopsByUnwinding) {
    int consultations_left = 3;
    CancellationScope scope(stop_after_countdown, &consultations_left);
    uint64_t polls = 0;
    try {
        for (;;) {
            poll_cancellation();
            ++polls;
        }
    } catch (const OperationCancelled&) {
    }
    EXPECT_EQ(consultations_left, 0);
    EXPECT_LE(polls, 3u * kCancellationPollInterval);
    EXPECT_GE(polls, 2u * kCancellationPollInterval - 1);
}

TEST(Cancellation, APollerCountsDownWithTheThread) {
    int consultations_left = 2;
    CancellationScope scope(stop_after_countdown, &consultations_left);
    CancellationPoller poller;
    uint64_t polls = 0;
    try {
        for (;;) {
            // Both ways of polling share the thread's countdown.
            (polls % 2 ? poller.poll() : poll_cancellation());
            ++polls;
        }
    } catch (const OperationCancelled&) {
    }
    EXPECT_EQ(consultations_left, 0);
    EXPECT_LE(polls, 2u * kCancellationPollInterval);
    EXPECT_GE(polls, kCancellationPollInterval);
}

TEST(Cancellation, ScopesNestAndRestore) {
    int outer_left = 1;
    {
        CancellationScope outer(stop_after_countdown, &outer_left);
        {
            CancellationScope inner([](void*) { return false; }, nullptr);
            poll_cancellation_now();
        }
        EXPECT_EQ(outer_left, 1);
        EXPECT_THROW(poll_cancellation_now(), OperationCancelled);
    }
    poll_cancellation_now(); // nothing installed any more
}

TEST(Cancellation, DisarmedTheCheckIsNotAskedUntilItsScopeEnds) {
    int outer_left = 1;
    CancellationScope outer(stop_after_countdown, &outer_left);
    int inner_left = 1;
    {
        CancellationScope inner(stop_after_countdown, &inner_left);
        disarm_cancellation();
        for (uint32_t i = 0; i < 2 * kCancellationPollInterval; ++i)
            poll_cancellation();
        poll_cancellation_now();
    }
    EXPECT_EQ(inner_left, 1);
    EXPECT_THROW(poll_cancellation_now(), OperationCancelled);
}

bool count_consultation(void* context) {
    ++*static_cast<int*>(context);
    return false;
}

TEST(Cancellation, DeferredConsultationsComeAtTheFirstPollAfterTheLastDeferral) {
    int consultations = 0;
    CancellationScope scope(count_consultation, &consultations);
    {
        const CancellationDeferral outer;
        {
            const CancellationDeferral inner;
            poll_cancellation_now();
            for (uint32_t i = 0; i < 3 * kCancellationPollInterval; ++i)
                poll_cancellation();
        }
        // Still under the outer deferral: nothing asked yet.
        poll_cancellation_now();
        EXPECT_EQ(consultations, 0);
    }
    poll_cancellation();
    EXPECT_EQ(consultations, 1);
    // Once asked, the countdown runs as before.
    for (uint32_t i = 0; i + 1 < kCancellationPollInterval; ++i)
        poll_cancellation();
    EXPECT_EQ(consultations, 1);
    poll_cancellation();
    EXPECT_EQ(consultations, 2);

    // A deferral under which nothing fell due leaves the countdown alone.
    { const CancellationDeferral quiet; }
    poll_cancellation();
    EXPECT_EQ(consultations, 2);
}

} // namespace
} // namespace vok
