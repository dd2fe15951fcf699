// malloc_trim behind release_free_memory, and the merge of freed blocks; see memory_release.h
// and freed_blocks.h.
#include "common/memory_release.h"
#include "common/freed_blocks.h"

#include <atomic>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace vok {

namespace {

std::atomic<size_t> releases{0};

} // namespace

void release_free_memory() noexcept {
    count_free_memory_release();
    trim_free_memory();
}

void count_free_memory_release() noexcept {
    releases.fetch_add(1, std::memory_order_relaxed);
}

void trim_free_memory() noexcept {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

void merge_freed_blocks() noexcept {
#ifdef __GLIBC__
    // mallopt merges the main arena's fast bins before it looks at its parameter, which must not
    // change anything: M_KEEP is one that glibc's malloc accepts and ignores.
    mallopt(M_KEEP, 0);
#endif
}

size_t free_memory_releases() noexcept {
    return releases.load(std::memory_order_relaxed);
}

} // namespace vok
