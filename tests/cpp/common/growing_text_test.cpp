// Growing a long text in steps: the bytes stay the same, room is made only for long texts, each
// step is preceded by a consultation of the cancellation check, and a stop leaves the text as it
// was.
#include <gtest/gtest.h>

#include <string>

#include "common/cancellation.h"
#include "common/growing_text.h"

namespace vok {
namespace {

// A text of `size` bytes that is not one byte repeated, so that a misplaced piece shows.
std::string patterned(size_t size) {
    std::string text;
    text.reserve(size);
    for (size_t i = 0; i < size; ++i)
        text.push_back(static_cast<char>('a' + (i * 7 + i / 4093) % 26));
    return text;
}

// The text cut back to a capacity with less than a step of room left.
std::string cramped(size_t size) {
    std::string text = patterned(size);
    text.shrink_to_fit();
    return text;
}

bool count_and_go_on(void* context) {
    ++*static_cast<int*>(context);
    return false;
}

bool stop_at_zero(void* context) {
    return --*static_cast<int*>(context) <= 0;
}

class TextRoom : public testing::TestWithParam<size_t> {};

TEST_P(TextRoom, LongTextsGetAStepOfRoomWithTheirBytesKept) {
    const size_t size = GetParam();
    std::string text = cramped(size);
    const size_t capacity = text.capacity();
    int consultations = 0;
    {
        CancellationScope scope(count_and_go_on, &consultations);
        make_text_room(text);
    }
    EXPECT_EQ(text, patterned(size));
    if (size < kTextStep) {
        // Short texts are left to std::string.
        EXPECT_EQ(text.capacity(), capacity);
        EXPECT_EQ(consultations, 0);
    } else {
        EXPECT_GE(text.capacity() - text.size(), kTextStep);
        EXPECT_GE(text.capacity(), 2 * capacity);
        // One consultation before each step copied.
        EXPECT_EQ(size_t(consultations), (size + kTextStep - 1) / kTextStep);
        // With room made, nothing more happens.
        const char* data = text.data();
        make_text_room(text);
        EXPECT_EQ(text.data(), data);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, TextRoom,
                         testing::Values(size_t{0}, kTextStep - 1, kTextStep, kTextStep + 1,
                                         3 * kTextStep, 3 * kTextStep + 4097));

TEST(TextRoom, AStopPartWayLeavesTheTextAsItWas) {
    std::string text = cramped(3 * kTextStep + 5);
    const size_t capacity = text.capacity();
    const char* data = text.data();
    int consultations_left = 3;
    CancellationScope scope(stop_at_zero, &consultations_left);
    EXPECT_THROW(grow_text_in_steps(text), OperationCancelled);
    EXPECT_EQ(consultations_left, 0);
    EXPECT_EQ(text.data(), data);
    EXPECT_EQ(text.capacity(), capacity);
    EXPECT_EQ(text, patterned(3 * kTextStep + 5));
}

} // namespace
} // namespace vok
