// A growable array of trivially copyable records with an inline, branch-predictable push.
//
// The parser pushes and truncates pair records on every rule call. std::vector's push_back is
// an out-of-line call in practice and value-initialises on resize; this buffer leaves reserved
// storage untouched (so address space reserved up front costs no page faults until used), grows
// by doubling, and hands its storage to the parse tree without copying.
//
// Large buffers (a big source file makes well over a hundred megabytes of records) live in blocks
// mapped straight from the kernel and advised for transparent huge pages
// (common/large_block_allocator.h): faulting in and zeroing fresh memory page by page otherwise
// costs a fifth of the parse time, and such a block goes back to the system as soon as it is
// freed. A reader that walks the records front to back can also hand back the front of such a
// block while it goes (release_before), so the records it is done with stop holding memory.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "common/large_block_allocator.h"

namespace vok::peg {

template <class T> class RecordBuffer {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    explicit RecordBuffer(size_t initial_capacity = 0) { reserve(initial_capacity); }
    RecordBuffer(RecordBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)),
          released_(std::exchange(other.released_, 0)) {}
    RecordBuffer& operator=(RecordBuffer&& other) noexcept {
        if (this != &other) {
            deallocate(data_, capacity_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            capacity_ = std::exchange(other.capacity_, 0);
            released_ = std::exchange(other.released_, 0);
        }
        return *this;
    }
    RecordBuffer(const RecordBuffer&) = delete;
    RecordBuffer& operator=(const RecordBuffer&) = delete;
    ~RecordBuffer() { deallocate(data_, capacity_); }

    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    const T* data() const { return data_; }

    void push_back(const T& value) {
        if (size_ == capacity_) [[unlikely]]
            reserve(capacity_ < 16 ? 16 : capacity_ * 2);
        data_[size_++] = value;
    }
    // Appends `count` records from `from`, which must not lie in this buffer.
    void append(const T* from, size_t count) {
        if (size_ + count > capacity_) reserve(std::max(size_ + count, capacity_ * 2));
        if (count > 0) std::memcpy(data_ + size_, from, count * sizeof(T));
        size_ += count;
    }
    // Drops the records from `size` on; `size` must not exceed the current size.
    void truncate(size_t size) { size_ = size; }

    // Gives the memory of the records before `index` back to the system, in whole large pages:
    // those records read as zeros afterwards, so the caller must never read them again. Buffers
    // too small for a mapped block keep their memory. Not for a buffer that is still growing.
    void release_before(size_t index) {
        if (!is_mapped(capacity_)) return;
        const size_t bytes = index * sizeof(T) / large_block::kThreshold * large_block::kThreshold;
        if (bytes <= released_) return;
        large_block::release(reinterpret_cast<char*>(data_) + released_, bytes - released_);
        released_ = bytes;
    }

private:
    static bool is_mapped(size_t capacity) {
        return capacity * sizeof(T) >= large_block::kThreshold;
    }

    // Uninitialised (hence untouched) storage for `capacity` records.
    static T* allocate(size_t capacity) {
        if (is_mapped(capacity)) return static_cast<T*>(large_block::map(capacity * sizeof(T)));
        void* memory = std::malloc(capacity * sizeof(T));
        if (memory == nullptr) throw std::bad_alloc();
        return static_cast<T*>(memory);
    }
    static void deallocate(T* data, size_t capacity) noexcept {
        if (data == nullptr) return;
        if (is_mapped(capacity)) {
            large_block::unmap(data, capacity * sizeof(T));
        } else {
            std::free(data);
        }
    }

    void reserve(size_t capacity) {
        if (capacity <= capacity_) return;
        if (is_mapped(capacity_)) {
            // A mapped block grows by moving its pages, not by copying its records.
            data_ = static_cast<T*>(
                large_block::grow(data_, capacity_ * sizeof(T), capacity * sizeof(T)));
            capacity_ = capacity;
            return;
        }
        T* grown = allocate(capacity);
        if (size_ > 0) std::memcpy(grown, data_, size_ * sizeof(T));
        deallocate(data_, capacity_);
        data_ = grown;
        capacity_ = capacity;
    }

    T* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    size_t released_ = 0; // bytes at the front given back by release_before
};

} // namespace vok::peg
