// Values built on worker threads ahead of a reader: the reader sees what building in place would
// give (values and failures, at their positions), the window stays bounded, and a reader that
// stops, by failure or cancellation, stops the workers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/built_ahead.h"
#include "failing_allocations.h"

namespace vok {
namespace {

using Strings = BuiltAhead<std::string>;

TEST(BuiltAhead, TheReaderGetsEveryValueInOrderAndFailuresWhereTheyLie) {
    for (const size_t workers : {1u, 3u}) {
        const size_t count = 10 * Strings::kBlock + 7;
        Strings ahead(count, workers, [](size_t position) {
            if (position % 97 == 5) throw std::runtime_error("refused " + std::to_string(position));
            return "value " + std::to_string(position);
        });
        for (size_t position = 0; position < count; ++position) {
            // Asked a few places ahead and then again, as the lowering asks.
            if (position + 8 < count && position % 97 != 94) {
                (void)ahead.at(position + 8);
            }
            if (position % 97 == 5) {
                try {
                    (void)ahead.at(position);
                    ADD_FAILURE() << "no failure at " << position;
                } catch (const std::runtime_error& e) {
                    EXPECT_EQ(std::string(e.what()), "refused " + std::to_string(position));
                }
            } else {
                // The value may be taken (moved out): it is the reader's until it moves on.
                EXPECT_EQ(std::move(ahead.at(position)), "value " + std::to_string(position));
            }
        }
        EXPECT_LE(ahead.first_kept(), count);
        EXPECT_GE(ahead.first_kept(), count / 2); // the blocks read are dropped as it goes
    }
}

// A value that counts how many of its kind are alive.
struct Counted {
    explicit Counted(std::atomic<int>& alive) : alive(&alive) { alive.fetch_add(1); }
    Counted(Counted&& other) noexcept : alive(other.alive) { alive->fetch_add(1); }
    Counted& operator=(Counted&&) = delete;
    ~Counted() { alive->fetch_sub(1); }
    std::atomic<int>* alive;
};

TEST(BuiltAhead, OnlyABoundedWindowOfValuesIsAlive) {
    std::atomic<int> alive{0};
    std::atomic<int> most{0};
    const size_t workers = 2;
    const size_t count = 200 * BuiltAhead<Counted>::kBlock;
    {
        BuiltAhead<Counted> ahead(count, workers, [&](size_t) {
            Counted value(alive);
            int seen = most.load();
            while (alive.load() > seen && !most.compare_exchange_weak(seen, alive.load())) {
            }
            return value;
        });
        for (size_t position = 0; position < count; ++position)
            (void)ahead.at(position);
    }
    EXPECT_EQ(alive.load(), 0);
    // The ring's blocks, one block per worker being built, and a temporary each.
    const size_t bound =
        (workers * BuiltAhead<Counted>::kBlocksAhead + workers) * BuiltAhead<Counted>::kBlock +
        workers;
    EXPECT_LE(static_cast<size_t>(most.load()), bound);
    EXPECT_GT(most.load(), 0);
}

TEST(BuiltAhead, AReaderThatLeavesEarlyStopsTheWorkers) {
    std::atomic<size_t> built{0};
    const size_t count = 1000 * BuiltAhead<int>::kBlock;
    {
        BuiltAhead<int> ahead(count, 3, [&](size_t position) {
            built.fetch_add(1);
            return static_cast<int>(position);
        });
        EXPECT_EQ(ahead.at(0), 0);
    }
    // Only the window was built, not the whole sequence.
    EXPECT_LT(built.load(), count / 10);
}

// A worker that finds no room for a block's values hands the block over unbuilt: the reader
// builds those values itself, and the workers go on with the blocks after it.
TEST(BuiltAhead, ABlockAWorkerHasNoRoomForIsBuiltByTheReader) {
    using Ints = BuiltAhead<int>;
    const size_t count = 6 * Ints::kBlock;
    std::vector<std::thread::id> builders(count);
    Ints ahead(count, 1, [&](size_t position) {
        builders[position] = std::this_thread::get_id();
        // The worker's next allocation is the room for block 1's values (its slot is new).
        if (position == Ints::kBlock - 1) t_fail_next_allocation = true;
        return static_cast<int>(position) * 3;
    });
    for (size_t position = 0; position < count; ++position)
        EXPECT_EQ(ahead.at(position), static_cast<int>(position) * 3);
    for (size_t position = 0; position < count; ++position) {
        const bool by_reader = builders[position] == std::this_thread::get_id();
        EXPECT_EQ(by_reader, position / Ints::kBlock == 1) << position;
    }
}

bool always_stop(void*) {
    return true;
}

TEST(BuiltAhead, AWaitingReaderAnswersItsCancellationCheck) {
    std::atomic<bool> release{false};
    BuiltAhead<int> ahead(4 * BuiltAhead<int>::kBlock, 1, [&](size_t position) {
        // The first value takes until the test lets it go; its workers never see the reader's
        // check, so only the reader's own polling can end the wait.
        while (position == 0 && !release.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return static_cast<int>(position);
    });
    {
        CancellationScope scope(always_stop, nullptr);
        EXPECT_THROW((void)ahead.at(0), OperationCancelled);
    }
    release.store(true);
    EXPECT_EQ(ahead.at(0), 0);
    EXPECT_EQ(ahead.at(1), 1);
}

} // namespace
} // namespace vok
