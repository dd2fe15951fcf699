// The parts both conversions of nested values share (json_conversion.h): the list of open
// containers, the levels of Python's recursion budget they take, and the handing off of the core
// values a stopped walk had made.
//
// Both directions walk a value from one frame with an explicit list of open containers rather
// than by recursion. A conversion makes Python objects and drops the last references to others at
// every level of a value, and either may run Python code: CPython collects cycles inside the
// allocation of a tracked object, and a finalizer or a weakref callback then runs wherever that
// happens. Walking from one frame near the start of the call, all of that runs with the room the
// call itself had, however deep the value.
#pragma once

#include <Python.h>

#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "common/dropping.h"

namespace vok::python {

// The levels of Python's recursion budget that one conversion has taken, a level for each open
// container; whatever is still taken when it ends (an error, a C++ exception, an interrupt) is
// given back then.
class RecursionBudget {
public:
    explicit RecursionBudget(const char* where) noexcept : where_(where) {}
    ~RecursionBudget() {
        for (; taken_ > 0; --taken_)
            Py_LeaveRecursiveCall();
    }
    RecursionBudget(const RecursionBudget&) = delete;
    RecursionBudget& operator=(const RecursionBudget&) = delete;

    // Takes a level; RecursionError (set) when the budget is spent.
    bool enter() {
        if (Py_EnterRecursiveCall(where_) != 0) return false;
        ++taken_;
        return true;
    }
    void leave() {
        Py_LeaveRecursiveCall();
        --taken_;
    }

private:
    const char* where_;
    std::size_t taken_ = 0;
};

// The open containers of a walk, innermost last. The first few live in the walk's own frame, the
// rest in chunks of many levels each: a shallow value (most are) costs no allocation for them, and
// a deep one an allocation per chunk. References to a level stay valid while it is open.
template <class T> class LevelStack {
public:
    LevelStack() = default;
    LevelStack(const LevelStack&) = delete;
    LevelStack& operator=(const LevelStack&) = delete;
    ~LevelStack() {
        while (!empty())
            pop_back();
    }

    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }
    T& back() { return *slot(size_ - 1); }
    T& at(std::size_t index) { return *slot(index); }
    template <class... Args> T& emplace_back(Args&&... args) {
        if (size_ >= kShallow && (size_ - kShallow) / kChunk == chunks_.size())
            chunks_.push_back(std::make_unique_for_overwrite<Chunk>());
        T* made = new (slot(size_)) T(std::forward<Args>(args)...);
        ++size_;
        return *made;
    }
    void pop_back() { std::destroy_at(slot(--size_)); }

private:
    static constexpr std::size_t kShallow = 16;
    static constexpr std::size_t kChunk = 256;

    struct Chunk {
        alignas(T) std::byte storage[kChunk * sizeof(T)];
    };

    T* slot(std::size_t index) {
        std::byte* storage = index < kShallow ? storage_ + index * sizeof(T)
                                              : chunks_[(index - kShallow) / kChunk]->storage +
                                                    (index - kShallow) % kChunk * sizeof(T);
        return std::launder(reinterpret_cast<T*>(storage));
    }

    alignas(T) std::byte storage_[kShallow * sizeof(T)];
    std::size_t size_ = 0;
    // Kept when the levels in them close, for a deep value's next descent.
    std::vector<std::unique_ptr<Chunk>> chunks_;
};

// Ending with levels still open (a stop, an error, running out of memory), a walk that converts
// into the core's values hands the values its levels made to a thread of their own when they weigh
// enough for that to pay (kWorthAThread), so that the exception does not wait for their freeing;
// less is dropped in place with the levels. Python objects the levels hold are never handed off:
// they are dropped here, on the calling thread, with the levels. A Level tells its weight, counted
// no further than a limit, and Level::hand_off gives up the core values all the levels hold.
// Declared after the levels, so that it acts before they go; a walk that ends whole has closed
// them all.
template <class Level> class HandOffStoppedLevels {
public:
    explicit HandOffStoppedLevels(LevelStack<Level>& open) noexcept : open_(open) {}
    ~HandOffStoppedLevels() {
        if (open_.empty()) return;
        try {
            std::size_t weight = 0;
            for (std::size_t level = 0; level < open_.size() && weight < kWorthAThread; ++level)
                weight += open_.at(level).weight(kWorthAThread - weight);
            if (weight >= kWorthAThread) Level::hand_off(open_);
        } catch (...) {
            // Without the memory to count or gather them, the levels drop what they hold here.
        }
    }
    HandOffStoppedLevels(const HandOffStoppedLevels&) = delete;
    HandOffStoppedLevels& operator=(const HandOffStoppedLevels&) = delete;

private:
    LevelStack<Level>& open_;
};

} // namespace vok::python
