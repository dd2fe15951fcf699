// Destroying values of any depth and width needs no memory: it must work where memory has run out
// (a destructor that throws there ends the process).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/cancellation.h"
#include "common/freed_blocks.h"
#include "failing_allocations.h"
#include "json/value.h"

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#include <malloc.h>
#define VOK_GLIBC_MALLOC 1
#endif

namespace vok::json {
namespace {

Value deep_arrays(int depth) {
    Value value = Value::from_u64(1);
    for (int i = 0; i < depth; ++i) {
        Array wrapper;
        wrapper.push_back(std::move(value));
        wrapper.push_back(Value("leaf " + std::to_string(i) + std::string(40, 'x')));
        value = Value(std::move(wrapper));
    }
    return value;
}

// An object of `width` members, each an object holding arrays and objects of its own, in the
// shape of a model's attributes.
Value wide_object(int width) {
    std::vector<Object::Entry> members;
    for (int i = 0; i < width; ++i) {
        std::vector<Object::Entry> inner;
        inner.emplace_back("a", Value(Array{Value::from_u64(1), Value(Array{}), Value(Object{})}));
        inner.emplace_back("b", deep_arrays(i % 7));
        inner.emplace_back("c", Value(std::string(30, 'c')));
        members.emplace_back("k" + std::to_string(i),
                             Value(Object::from_entries(std::move(inner))));
    }
    return Value(Object::from_entries(std::move(members)));
}

TEST(ValueDestruction, NeedsNoMemoryAtAnyDepthOrWidth) {
    for (Value* value : {new Value(deep_arrays(200'000)), new Value(wide_object(50'000)),
                         new Value(Array{deep_arrays(3), wide_object(3), Value("s")})}) {
        const AllocationsFail failing;
        delete value;
    }
    // Under AddressSanitizer, whatever was not freed is reported as a leak when the program ends.
}

TEST(ValueDestruction, LeavesValuesMovedFromOrDroppedInStepsUsable) {
    Value value = wide_object(100);
    Value moved = std::move(value);
    value = deep_arrays(10);
    EXPECT_EQ(value, deep_arrays(10));
    drop_in_steps(moved);
    EXPECT_TRUE(moved.is_null());
}

// Entries of keys too long to be held in place, in random order: each key is a block of its own.
std::vector<Object::Entry> wide_entries(size_t count) {
    std::vector<Object::Entry> entries;
    for (size_t i = 0; i < count; ++i)
        entries.emplace_back("0123456789abcdef-" + std::to_string(i * 2654435761u % 1000003),
                             Value::from_u64(i));
    std::shuffle(entries.begin(), entries.end(), std::mt19937(3));
    return entries;
}

struct Consultations {
    size_t count = 0;
    size_t stop_at = SIZE_MAX;
};

bool consulted(void* context) {
    auto* consultations = static_cast<Consultations*>(context);
    return ++consultations->count >= consultations->stop_at;
}

// An object too large to be freed in a few milliseconds, stopped while its entries are sorted,
// leaves them to a thread of their own wherever the stop comes: the caller frees none of its keys
// before the exception reaches it.
TEST(ValueDestruction, AStoppedSortOfALargeObjectFreesNoKeyOnTheCallingThread) {
    constexpr size_t kCount = 300'000;
    Consultations whole;
    {
        const CancellationScope scope(consulted, &whole);
        EXPECT_EQ(Object::from_entries(wide_entries(kCount)).size(), kCount);
    }
    for (const double fraction : {0.02, 0.3, 0.6, 0.9, 0.99}) {
        std::vector<Object::Entry> entries = wide_entries(kCount);
        Consultations stopped;
        stopped.stop_at = std::max<size_t>(1, size_t(double(whole.count) * fraction));
        const size_t before = t_deletes;
        {
            const CancellationScope scope(consulted, &stopped);
            EXPECT_THROW(Object::from_entries(std::move(entries)), OperationCancelled) << fraction;
        }
        EXPECT_LT(t_deletes - before, 64u) << fraction;
    }
}

#ifdef VOK_GLIBC_MALLOC
// Freeing a large value, dropped or replaced, leaves at most a few thousand small blocks unmerged
// in glibc's fast bins: the next request for a large block, which merges them all in one step
// where no poll can come, has little left to do.
TEST(ValueDestruction, LargeValuesLeaveFewBlocksUnmerged) {
    constexpr size_t kCount = 200'000;
    constexpr size_t kBound = 2 * FreedBlocks::kBlocksPerMerge * 64;
    // Buffers of 128 KiB and more are mapped of their own, as in a process that has freed no large
    // buffer yet: freed, they are unmapped, and their freeing merges none of the small blocks (a
    // buffer freed inside the heap would merge them all).
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    const auto unmerged_after = [](auto&& free) {
        merge_freed_blocks();
        free();
        return mallinfo2().fsmblks;
    };
    const auto texts = [] {
        Array items;
        for (size_t i = 0; i < kCount; ++i)
            items.emplace_back("a text too long for its value " + std::to_string(i));
        std::shuffle(items.begin(), items.end(), std::mt19937(5));
        return items;
    };
    EXPECT_LT(unmerged_after([&] { Value(Object::from_entries(wide_entries(kCount))); }), kBound);
    Object holder;
    holder.insert_or_assign("v", Value(Object::from_entries(wide_entries(kCount))));
    EXPECT_LT(unmerged_after([&] { holder.insert_or_assign("v", Value("replaced")); }), kBound);
    holder.insert_or_assign("v", Value(texts()));
    EXPECT_LT(unmerged_after([&] { holder.insert_or_assign("v", Value("replaced")); }), kBound);
    EXPECT_LT(unmerged_after([&] {
                  std::vector<Object::Entry> entries = wide_entries(kCount);
                  destroy_entries(entries);
              }),
              kBound);
    EXPECT_LT(unmerged_after([&] {
                  Array items = texts();
                  destroy_elements(items);
                  EXPECT_TRUE(items.empty());
              }),
              kBound);
}
#endif

} // namespace
} // namespace vok::json
