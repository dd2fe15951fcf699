// Growing a long list of records in steps: the elements stay the same and in order, room is made
// only for long full lists, each step is preceded by a consultation of the cancellation check,
// and a stop leaves the list as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/cancellation.h"
#include "common/growing_records.h"

namespace vok {
namespace {

// Records of 256 bytes: 4,096 to a step. The text outgrows the small-string room, so that a
// record lost in a move shows as an emptied text.
struct Record {
    std::string text;
    char padding[256 - sizeof(std::string)] = {};
};

std::vector<Record> full_list(size_t count) {
    std::vector<Record> items;
    items.reserve(count);
    for (size_t i = 0; i < count; ++i)
        items.push_back(Record{"record number " + std::to_string(i) + " of the list"});
    return items;
}

void expect_intact(const std::vector<Record>& items, size_t count) {
    ASSERT_EQ(items.size(), count);
    for (size_t i = 0; i < count; ++i)
        ASSERT_EQ(items[i].text, "record number " + std::to_string(i) + " of the list");
}

bool count_and_go_on(void* context) {
    ++*static_cast<int*>(context);
    return false;
}

bool stop_at_zero(void* context) {
    return --*static_cast<int*>(context) <= 0;
}

constexpr size_t kPerStep = kTextStep / sizeof(Record);

TEST(RecordRoom, OnlyLongFullListsGrowInStepsWithTheirElementsKept) {
    for (size_t count : {size_t{0}, kPerStep - 1, kPerStep, 3 * kPerStep + 5}) {
        std::vector<Record> items = full_list(count);
        const size_t capacity = items.capacity();
        int consultations = 0;
        {
            CancellationScope scope(count_and_go_on, &consultations);
            make_record_room(items);
        }
        expect_intact(items, count);
        if (count < kPerStep) {
            EXPECT_EQ(items.capacity(), capacity);
            EXPECT_EQ(consultations, 0);
        } else {
            EXPECT_GE(items.capacity(), 2 * capacity);
            EXPECT_EQ(size_t(consultations), (count + kPerStep - 1) / kPerStep);
        }
    }
    // A long list with room left is left alone.
    std::vector<Record> roomy = full_list(kPerStep);
    roomy.reserve(kPerStep + 1);
    const Record* data = roomy.data();
    make_record_room(roomy);
    EXPECT_EQ(roomy.data(), data);
}

TEST(RecordRoom, AStopPartWayLeavesTheListAsItWas) {
    std::vector<Record> items = full_list(3 * kPerStep + 5);
    const Record* data = items.data();
    int consultations_left = 3;
    CancellationScope scope(stop_at_zero, &consultations_left);
    EXPECT_THROW(grow_records_in_steps(items), OperationCancelled);
    EXPECT_EQ(consultations_left, 0);
    EXPECT_EQ(items.data(), data);
    expect_intact(items, 3 * kPerStep + 5);
}

} // namespace
} // namespace vok
