// Merging the small blocks that freeing a large value leaves, while it frees them.
//
// glibc's malloc keeps a freed small block in a "fast bin", unmerged with its free neighbours,
// and merges the blocks of the fast bins only when a later request needs a larger block. After
// millions of small blocks are freed (the keys and texts of a large value), that merge, the
// larger part of the cost of freeing them (over a second for two million keys freed in random
// order), is made in one step by the next request for a large block, wherever it comes: inside
// the next conversion, between two of its polls, where Ctrl-C then waits for it. Code that frees
// many blocks counts them with a FreedBlocks, which has them merged every kBlocksPerMerge, a few
// milliseconds' work, done while the blocks freed last are still in the cache.
#pragma once

#include <cstddef>

namespace vok {

// Merges the free small blocks of the main arena, where the blocks of the program's main thread
// come from (the caller's, for a module of the interpreter's). Blocks of the arena of another
// thread are left for glibc to merge; with another C library, nothing is done.
void merge_freed_blocks() noexcept;

class FreedBlocks {
public:
    static constexpr std::size_t kBlocksPerMerge = 4096;

    void add(std::size_t blocks = 1) noexcept {
        count_ += blocks;
        if (count_ >= kBlocksPerMerge) [[unlikely]] {
            count_ = 0;
            merge_freed_blocks();
        }
    }

private:
    std::size_t count_ = 0;
};

} // namespace vok
