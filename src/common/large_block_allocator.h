// LargeBlockAllocator: an allocator for the few very large arrays of a big model (the graph's
// record stores and their hash indexes), which takes blocks of 2 MiB and more straight from the
// kernel, aligned to 2 MiB and advised for transparent huge pages.
//
// Filling a fresh array of hundreds of megabytes costs one page fault per 4 KiB page touched, and
// on a virtual machine each fault is dear: building a graph of a million records spent about as
// long in the kernel's fault path as in its own code. With huge pages the same array faults once
// per 2 MiB, and its random probes (hash indexes) miss the TLB far less. Smaller requests, and
// systems without transparent huge pages (the advice is then ignored), get ordinary memory.
// A large block is unmapped when freed, so its memory goes back to the system at once.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

namespace vok {

namespace large_block {

inline constexpr size_t kThreshold = size_t{2} << 20;

// A block of at least `bytes` bytes aligned to kThreshold; throws std::bad_alloc when the system
// refuses. `bytes` must be at least kThreshold.
void* map(size_t bytes);
// Returns a block that map() gave for the same `bytes`.
void unmap(void* block, size_t bytes) noexcept;
// A block of at least `new_bytes` (more than `old_bytes`) whose first `old_bytes` are those of
// `block`, a block map() gave for `old_bytes`, which is gone afterwards. The pages are moved, not
// copied, where the system allows; throws std::bad_alloc as map() does (`block` is then intact).
void* grow(void* block, size_t old_bytes, size_t new_bytes);
// Gives the memory of `bytes` bytes from `start`, a whole number of kThreshold units inside a
// mapped block, back to the system; the block stays mapped and those bytes read as zeros after.
void release(void* start, size_t bytes) noexcept;
// The bytes of all blocks mapped and not yet returned, in this process (for measurements: such
// blocks are not part of malloc's statistics).
size_t mapped_bytes() noexcept;

} // namespace large_block

template <class T> struct LargeBlockAllocator {
    using value_type = T;

    LargeBlockAllocator() noexcept = default;
    template <class U> LargeBlockAllocator(const LargeBlockAllocator<U>&) noexcept {} // NOLINT

    T* allocate(size_t count) {
        if (count > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        const size_t bytes = count * sizeof(T);
        if (bytes < large_block::kThreshold) return std::allocator<T>().allocate(count);
        return static_cast<T*>(large_block::map(bytes));
    }
    void deallocate(T* block, size_t count) noexcept {
        const size_t bytes = count * sizeof(T);
        if (bytes < large_block::kThreshold) {
            std::allocator<T>().deallocate(block, count);
        } else {
            large_block::unmap(block, bytes);
        }
    }

    template <class U>
    friend bool operator==(const LargeBlockAllocator&, const LargeBlockAllocator<U>&) {
        return true;
    }
};

} // namespace vok
