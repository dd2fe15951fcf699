// A growable array of trivially copyable records with an inline, branch-predictable push.
//
// The parser pushes and truncates pair records on every rule call. std::vector's push_back is
// an out-of-line call in practice and value-initialises on resize; this buffer leaves reserved
// storage untouched (so address space reserved up front costs no page faults until used), grows
// by doubling, and hands its storage to the parse tree without copying.
//
// Large buffers (a big source file makes well over a hundred megabytes of records) are asked to
// be backed by transparent huge pages where the system offers them on request: faulting in and
// zeroing fresh memory page by page otherwise costs a fifth of the parse time.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vok::peg {

template <class T> class RecordBuffer {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    explicit RecordBuffer(size_t initial_capacity = 0) { reserve(initial_capacity); }

    size_t size() const { return size_; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    const T* data() const { return data_.get(); }

    void push_back(const T& value) {
        if (size_ == capacity_) [[unlikely]]
            reserve(capacity_ < 16 ? 16 : capacity_ * 2);
        data_[size_++] = value;
    }
    // Drops the records from `size` on; `size` must not exceed the current size.
    void truncate(size_t size) { size_ = size; }

private:
    struct Free {
        void operator()(T* p) const { std::free(p); }
    };

    static constexpr size_t kHugePage = size_t{2} << 20;

    // Uninitialised (hence untouched) storage for `capacity` records.
    static T* allocate(size_t capacity) {
        const size_t bytes = capacity * sizeof(T);
        void* memory = nullptr;
        if (bytes >= 4 * kHugePage) {
            memory = std::aligned_alloc(kHugePage, (bytes + kHugePage - 1) / kHugePage * kHugePage);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
            if (memory != nullptr) madvise(memory, bytes, MADV_HUGEPAGE);
#endif
        } else {
            memory = std::malloc(bytes);
        }
        if (memory == nullptr) throw std::bad_alloc();
        return static_cast<T*>(memory);
    }

    void reserve(size_t capacity) {
        if (capacity <= capacity_) return;
        std::unique_ptr<T[], Free> grown(allocate(capacity));
        if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_ * sizeof(T));
        data_ = std::move(grown);
        capacity_ = capacity;
    }

    std::unique_ptr<T[], Free> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

} // namespace vok::peg
