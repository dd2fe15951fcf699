// GrowingMap: batches join whole, the main table's entry wins over a batch's, and settling a batch
// goes in bounded steps, and may stop between any two, without changing what lookups find.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "common/cancellation.h"
#include "common/growing_map.h"

namespace vok {
namespace {

struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept {
        return std::hash<std::string_view>{}(s);
    }
};

using Map = GrowingMap<std::string, int, TextHash>;

std::string key(int i) {
    return "k" + std::to_string(i);
}

Map numbered(int from, int to) {
    Map map;
    for (int i = from; i < to; ++i)
        EXPECT_TRUE(map.insert(key(i), i));
    return map;
}

// Every key of [from, to) maps to its number.
void expect_numbered(const Map& map, int from, int to) {
    for (int i = from; i < to; ++i) {
        const int* value = map.find(std::string_view(key(i)));
        ASSERT_NE(value, nullptr) << i;
        EXPECT_EQ(*value, i);
    }
}

TEST(GrowingMap, BatchesJoinWholeAndTheEntryHeldFirstWins) {
    Map map = numbered(0, 100);
    Map batch = numbered(50, 3000);
    ASSERT_TRUE(batch.insert("k10", -1)); // held by the map already
    map.take(batch);
    expect_numbered(map, 0, 3000);
    EXPECT_EQ(batch.find(std::string_view("k60")), nullptr);
    EXPECT_EQ(batch.find(std::string_view("k10")), nullptr);

    // Held in the batch, a key is neither inserted again nor assigned past it.
    EXPECT_FALSE(map.insert(key(2000), 0));
    map.insert_or_assign(key(2000), -2000);
    EXPECT_EQ(*map.find(std::string_view(key(2000))), -2000);
    map.insert_or_assign("new", 7);
    EXPECT_EQ(*map.find(std::string_view("new")), 7);

    // The next batch settles this one first; nothing changes but what it adds.
    Map next = numbered(3000, 3100);
    map.take(next);
    map.settle();
    EXPECT_EQ(*map.find(std::string_view(key(2000))), -2000);
    EXPECT_EQ(*map.find(std::string_view("k10")), 10);
    expect_numbered(map, 3000, 3100);
    EXPECT_EQ(map.find(std::string_view("k3100")), nullptr);
}

bool stop_at_countdown(void* context) {
    auto* remaining = static_cast<int*>(context);
    return --*remaining <= 0;
}

TEST(GrowingMap, SettlingGoesInShortStepsThatChangeNothing) {
    constexpr int kEntries = 50'000;
    Map map = numbered(0, 1000);
    Map batch = numbered(1000, kEntries);
    map.take(batch);
    EXPECT_FALSE(map.settled());
    // Each step is bounded (a lock may be held over one and let go between them) and leaves
    // every entry where lookups find it.
    int steps = 0;
    for (bool settled = false; !settled; ++steps) {
        settled = map.settle_step();
        expect_numbered(map, 0, kEntries);
        ASSERT_LT(steps, kEntries);
    }
    EXPECT_GT(steps, 3);
    EXPECT_TRUE(map.settled());
    EXPECT_TRUE(map.settle_step());
    EXPECT_EQ(map.find(std::string_view(key(kEntries))), nullptr);
}

TEST(GrowingMap, SettlingStoppedAnywhereChangesNothing) {
    constexpr int kEntries = 50'000;
    Map map = numbered(0, 1000);
    Map batch = numbered(1000, kEntries);
    map.take(batch);
    // Stopped at the first, second and third consultation between steps; each try goes on where
    // the one before stopped.
    for (int consultations : {1, 2, 3}) {
        int left = consultations;
        {
            const CancellationScope scope(stop_at_countdown, &left);
            EXPECT_THROW(map.settle(), OperationCancelled) << consultations;
        }
        EXPECT_EQ(left, 0);
        EXPECT_FALSE(map.settled());
        expect_numbered(map, 0, kEntries);
    }
    // A take asks no check: it settles what is left whole, then takes the batch in.
    Map more = numbered(kEntries, kEntries + 10);
    int left = 1;
    {
        const CancellationScope scope(stop_at_countdown, &left);
        map.take(more);
    }
    EXPECT_EQ(left, 1);
    expect_numbered(map, 0, kEntries + 10);
}

} // namespace
} // namespace vok
