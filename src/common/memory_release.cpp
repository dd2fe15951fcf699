// malloc_trim behind release_free_memory; see memory_release.h.
#include "common/memory_release.h"

#include <atomic>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace vok {

namespace {

std::atomic<size_t> releases{0};

} // namespace

void release_free_memory() noexcept {
    releases.fetch_add(1, std::memory_order_relaxed);
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

size_t free_memory_releases() noexcept {
    return releases.load(std::memory_order_relaxed);
}

} // namespace vok
