// Large blocks mapped from the kernel; see large_block_allocator.h.
#include "common/large_block_allocator.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstring>

namespace vok::large_block {

namespace {

std::atomic<size_t> g_mapped{0};

size_t rounded_up(size_t bytes) {
    return (bytes + kThreshold - 1) & ~(kThreshold - 1);
}

} // namespace

void* map(size_t bytes) {
    const size_t size = rounded_up(bytes);
    // Map one alignment unit more than needed and cut the block out of it at an aligned address,
    // so that it can be backed by whole huge pages.
    void* raw = mmap(nullptr, size + kThreshold, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kThreshold - 1) & ~(uintptr_t{kThreshold} - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const uintptr_t end = start + size + kThreshold;
    if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
    void* block = reinterpret_cast<void*>(aligned);
    // Advice only: without transparent huge pages the block is ordinary memory.
    (void)madvise(block, size, MADV_HUGEPAGE);
    g_mapped.fetch_add(size, std::memory_order_relaxed);
    return block;
}

void unmap(void* block, size_t bytes) noexcept {
    munmap(block, rounded_up(bytes));
    g_mapped.fetch_sub(rounded_up(bytes), std::memory_order_relaxed);
}

void* grow(void* block, size_t old_bytes, size_t new_bytes) {
    void* grown = map(new_bytes);
    const size_t old_size = rounded_up(old_bytes);
    // Moving the old pages over the start of the new block keeps what they hold without copying
    // it, and keeps the pages that were never touched untouched.
    void* moved = mremap(block, old_size, old_size, MREMAP_MAYMOVE | MREMAP_FIXED, grown);
    if (moved == MAP_FAILED) {
        std::memcpy(grown, block, old_bytes);
        munmap(block, old_size);
    }
    g_mapped.fetch_sub(old_size, std::memory_order_relaxed);
    return grown;
}

void release(void* start, size_t bytes) noexcept {
    // Advice that cannot fail for a range inside a private anonymous mapping.
    (void)madvise(start, bytes, MADV_DONTNEED);
}

size_t mapped_bytes() noexcept {
    return g_mapped.load(std::memory_order_relaxed);
}

} // namespace vok::large_block
