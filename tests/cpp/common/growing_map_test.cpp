// GrowingMap: batches join whole, the main table's entry wins over a batch's, and settling a batch
// may stop at any consultation of the cancellation check without changing what lookups find.
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

TEST(GrowingMap, SettlingStoppedAnywhereChangesNothing) {
    constexpr int kEntries = 20 * static_cast<int>(kCancellationPollInterval);
    Map map = numbered(0, 1000);
    Map batch = numbered(1000, kEntries);
    map.take(batch);
    // Stopped at the first, an early, a middle and a late consultation of the settling; each try
    // goes on where the one before stopped.
    for (int consultations : {1, 2, 8, 12}) {
        Map more = numbered(kEntries, kEntries + 10);
        int left = consultations;
        {
            const CancellationScope scope(stop_at_countdown, &left);
            EXPECT_THROW(map.take(more), OperationCancelled) << consultations;
        }
        EXPECT_EQ(left, 0);
        expect_numbered(map, 0, kEntries);
        EXPECT_EQ(map.find(std::string_view(key(kEntries))), nullptr);
        expect_numbered(more, kEntries, kEntries + 10);
    }
    Map more = numbered(kEntries, kEntries + 10);
    map.take(more);
    expect_numbered(map, 0, kEntries + 10);
}

} // namespace
} // namespace vok
