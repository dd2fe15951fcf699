// Values of a known sequence built on worker threads a bounded window ahead of one reader that
// takes them in order. Values are built `Block` at a time by one worker: many small values go in
// blocks of 64, a few large ones one by one so that each worker takes its own.
//
// The reader asks for positions in (nearly) ascending order: it asks for a position in every block
// in turn, and once it has asked for one in block b, never again for one before block b - 1, so
// the blocks before that are dropped and their room goes to the workers. At most `kBlocksAhead`
// blocks per worker exist at once, so the memory held is bounded whatever the length of the
// sequence.
//
// What a build throws reaches the reader when it asks for that position, not before: the reader
// sees the same values and the same failures, in the same order, as if it built each value itself
// when it asked. Builds run on the workers without the reader's cancellation check; the reader
// polls its own while it waits, and when it leaves (by a failure or cancellation), the workers
// stop after the block in hand.
//
// A worker never fails on its own: everything it does that may throw is caught, and a block it
// could not make room for is handed over empty, for the reader to build when it asks. The only
// failures a worker cannot survive are those no code can catch (the C library ending the process
// when a thread's first use of a module's thread-local storage finds no memory), which is why
// callers start workers only where no cap makes allocations fail (cores_for_workers).
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "common/cancellation.h"
#include "common/invariant.h"
#include "common/thread_preparation.h"

namespace vok {

template <class T, size_t Block = 64> class BuiltAhead {
public:
    static_assert(Block > 0);
    static constexpr size_t kBlock = Block;   // positions built by one worker at a time
    static constexpr size_t kBlocksAhead = 4; // blocks per worker in flight or waiting

    // Starts `workers` threads (at least one) building positions 0 to `count` - 1 by `build`.
    // Where a thread cannot start (std::system_error, or std::bad_alloc for its state), those
    // started stop and the failure is rethrown: the caller then builds the values itself.
    BuiltAhead(size_t count, size_t workers, std::function<T(size_t)> build)
        : build_(std::move(build)), count_(count), blocks_((count + kBlock - 1) / kBlock),
          ring_(std::max<size_t>(workers, 1) * kBlocksAhead) {
        threads_.reserve(std::max<size_t>(workers, 1));
        try {
            for (size_t w = 0; w < std::max<size_t>(workers, 1); ++w)
                threads_.emplace_back([this] { work(); });
        } catch (...) {
            stop();
            throw;
        }
    }

    BuiltAhead(const BuiltAhead&) = delete;
    BuiltAhead& operator=(const BuiltAhead&) = delete;
    ~BuiltAhead() { stop(); }

    // The value at `position`, waiting for it if need be; rethrows what its build threw.
    T& at(size_t position) {
        VOK_INVARIANT(position < count_, "position past the end of the sequence");
        const size_t block = position / kBlock;
        VOK_INVARIANT(block >= first_kept_, "position in a block already dropped");
        if (block >= next_unread_) wait_for(block);
        // The block is the reader's until it is dropped: what its worker left unbuilt, it builds.
        Slot& slot = ring_[block % ring_.size()];
        if (slot.values.empty()) slot.values.resize(block_size(block));
        Built& built = slot.values[position % kBlock];
        if (!built.value && !built.error) build_into(built, position);
        if (built.error) std::rethrow_exception(built.error);
        return *built.value;
    }

    // The first position whose value may still be asked for: the values before it are dropped.
    size_t first_kept() const { return std::min(first_kept_ * kBlock, count_); }

private:
    static constexpr size_t kNone = static_cast<size_t>(-1);

    struct Built {
        std::optional<T> value;
        std::exception_ptr error;
    };
    struct Slot {
        std::vector<Built> values;
        // The block whose values the slot holds, once they are all built (release: the values
        // are written before it).
        std::atomic<size_t> block{kNone};
    };

    // Drops the blocks before `block` - 1 (half a ring at a time: waking the workers costs more
    // than a block's wait for room) and waits until `block` is built. Blocks are read in order,
    // so every block the reader drops was built and read: no worker still reads for it.
    void wait_for(size_t block) {
        VOK_INVARIANT(block == next_unread_, "a block skipped");
        Slot& slot = ring_[block % ring_.size()];
        if (block >= first_kept_ + 1 + ring_.size() / 2) {
            std::lock_guard lock(mutex_);
            first_kept_ = block - 1;
            if (workers_waiting_ > 0) room_.notify_all();
        }
        if (slot.block.load(std::memory_order_acquire) != block) {
            std::unique_lock lock(mutex_);
            reader_waiting_ = true;
            while (slot.block.load(std::memory_order_acquire) != block) {
                // The wait is cut short now and then so that the reader can be cancelled.
                built_.wait_for(lock, std::chrono::milliseconds(10));
                if (slot.block.load(std::memory_order_acquire) != block) {
                    lock.unlock();
                    try {
                        poll_cancellation_now();
                    } catch (...) {
                        lock.lock();
                        reader_waiting_ = false;
                        throw;
                    }
                    lock.lock();
                }
            }
            reader_waiting_ = false;
        }
        next_unread_ = block + 1;
    }

    size_t block_size(size_t block) const { return std::min(kBlock, count_ - block * kBlock); }

    void build_into(Built& built, size_t position) const noexcept {
        try {
            built.value.emplace(build_(position));
        } catch (...) {
            built.error = std::current_exception();
        }
    }

    // Nothing here throws outside a try: a block taken is always handed over, built or not.
    void work() noexcept {
        // A thread whose thread-local storage cannot be had (memory is short) must not reach any
        // of it: it builds nothing, and hands each block it takes over empty for the reader.
        const bool can_build = prepare_thread();
        std::optional<CancellationScope> scope;
        if (can_build) {
            scope.emplace(
                +[](void* stopping) {
                    return static_cast<std::atomic<bool>*>(stopping)->load(
                        std::memory_order_relaxed);
                },
                &stopping_);
        }
        for (;;) {
            size_t block = 0;
            {
                std::unique_lock lock(mutex_);
                const auto may_start = [&] {
                    return stopping_.load(std::memory_order_relaxed) || next_block_ >= blocks_ ||
                           next_block_ < first_kept_ + ring_.size();
                };
                if (!may_start()) {
                    ++workers_waiting_;
                    room_.wait(lock, may_start);
                    --workers_waiting_;
                }
                if (stopping_.load(std::memory_order_relaxed) || next_block_ >= blocks_) return;
                block = next_block_++;
            }
            // The slot's previous block was dropped: its values go here, off the reader's thread.
            // Without room for the new ones the slot stays empty, and the reader builds them.
            Slot& slot = ring_[block % ring_.size()];
            slot.values.clear();
            try {
                if (can_build) slot.values.resize(block_size(block));
            } catch (...) {
                slot.values.clear();
            }
            for (size_t k = 0; k < slot.values.size(); ++k) {
                if (stopping_.load(std::memory_order_relaxed)) break;
                build_into(slot.values[k], block * kBlock + k);
            }
            slot.block.store(block, std::memory_order_release);
            {
                // Under the lock, so that a reader about to wait sees the block or the call.
                std::lock_guard lock(mutex_);
                if (reader_waiting_) built_.notify_one();
            }
        }
    }

    void stop() noexcept {
        {
            std::lock_guard lock(mutex_);
            stopping_.store(true, std::memory_order_relaxed);
        }
        room_.notify_all();
        for (std::thread& thread : threads_)
            if (thread.joinable()) thread.join();
    }

    const std::function<T(size_t)> build_;
    const size_t count_;
    const size_t blocks_;

    std::vector<Slot> ring_;        // block b in slot b % size
    std::mutex mutex_;              // guards what follows, up to the atomics
    std::condition_variable room_;  // a block may be started (or the workers must stop)
    std::condition_variable built_; // a block is ready
    size_t next_block_ = 0;         // the next block a worker takes
    size_t first_kept_ = 0;         // the first block the reader may still ask for
    size_t workers_waiting_ = 0;    // workers waiting for room
    bool reader_waiting_ = false;   // the reader waits for a block
    std::atomic<bool> stopping_{false};
    std::vector<std::thread> threads_;

    // The reader's own: the blocks from `first_kept_` up to this one are built.
    size_t next_unread_ = 0;
};

} // namespace vok
