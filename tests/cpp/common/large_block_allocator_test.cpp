// LargeBlockAllocator: small requests are ordinary memory, large ones are aligned blocks that are
// counted while mapped and returned when freed; a vector growing across the threshold keeps its
// contents.
#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <vector>

#include "common/large_block_allocator.h"

namespace vok {
namespace {

TEST(LargeBlockAllocator, MapsAlignedCountedBlocksAboveTheThreshold) {
    const size_t before = large_block::mapped_bytes();
    LargeBlockAllocator<uint64_t> allocator;
    const size_t large = large_block::kThreshold / sizeof(uint64_t) + 1; // just past 2 MiB
    uint64_t* block = allocator.allocate(large);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % large_block::kThreshold, 0u);
    EXPECT_EQ(large_block::mapped_bytes() - before, 2 * large_block::kThreshold); // rounded up
    block[0] = 1, block[large - 1] = 2; // the whole block is writable
    allocator.deallocate(block, large);
    EXPECT_EQ(large_block::mapped_bytes(), before);

    uint64_t* small = allocator.allocate(16);
    EXPECT_EQ(large_block::mapped_bytes(), before);
    allocator.deallocate(small, 16);

    EXPECT_THROW((void)allocator.allocate(static_cast<size_t>(-1) / 4), std::bad_array_new_length);
}

TEST(LargeBlock, GrowKeepsTheContentsAndTheCount) {
    const size_t before = large_block::mapped_bytes();
    const size_t old_bytes = 3 * large_block::kThreshold / 2;
    auto* block = static_cast<unsigned char*>(large_block::map(old_bytes));
    for (size_t i = 0; i < old_bytes; i += 4096)
        block[i] = static_cast<unsigned char>(i / 4096);
    block[old_bytes - 1] = 0xAB;
    const size_t new_bytes = 5 * large_block::kThreshold;
    auto* grown = static_cast<unsigned char*>(large_block::grow(block, old_bytes, new_bytes));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(grown) % large_block::kThreshold, 0u);
    EXPECT_EQ(large_block::mapped_bytes() - before, new_bytes);
    for (size_t i = 0; i < old_bytes; i += 4096)
        ASSERT_EQ(grown[i], static_cast<unsigned char>(i / 4096)) << i;
    EXPECT_EQ(grown[old_bytes - 1], 0xAB);
    EXPECT_EQ(grown[old_bytes], 0); // new room reads as zeros, and is writable to the end
    grown[new_bytes - 1] = 1;
    large_block::unmap(grown, new_bytes);
    EXPECT_EQ(large_block::mapped_bytes(), before);
}

TEST(LargeBlockAllocator, VectorsGrowAcrossTheThresholdKeepingTheirContents) {
    const size_t before = large_block::mapped_bytes();
    {
        std::vector<uint32_t, LargeBlockAllocator<uint32_t>> values;
        for (uint32_t i = 0; i < 2'000'000; ++i)
            values.push_back(i * 7);
        EXPECT_GT(large_block::mapped_bytes(), before);
        for (uint32_t i = 0; i < values.size(); i += 99'991)
            ASSERT_EQ(values[i], i * 7);
    }
    EXPECT_EQ(large_block::mapped_bytes(), before);
}

} // namespace
} // namespace vok
