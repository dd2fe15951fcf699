// RareOptional and RareList: fields that most values leave empty, kept out of line.
//
// An entity's `replaces` and `changes` come from annotations that few declarations carry, yet as a
// std::optional<std::string> and a std::vector they cost 64 bytes in every entity. Held behind
// one pointer each (null while empty) they cost 16, and a heap block only where a value exists.
// The same holds for the optional parts of the largest expression nodes, whose size every node
// of every tree pays.
// Both are values: copying copies the contents, and they read like the optional and the vector
// they stand for (has_value, *, ->, comparison with a value; empty, size, iteration, push_back,
// comparison with a vector).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace vok {

template <class T> class RareOptional {
public:
    RareOptional() noexcept = default;
    RareOptional(std::nullopt_t) noexcept {}                                 // NOLINT
    RareOptional(T value) : value_(std::make_unique<T>(std::move(value))) {} // NOLINT
    RareOptional(std::optional<T> value) // NOLINT: an optional is a rare optional
        : value_(value ? std::make_unique<T>(std::move(*value)) : nullptr) {}
    RareOptional(const RareOptional& other)
        : value_(other.value_ ? std::make_unique<T>(*other.value_) : nullptr) {}
    RareOptional(RareOptional&&) noexcept = default;
    RareOptional& operator=(const RareOptional& other) {
        if (this != &other) *this = RareOptional(other);
        return *this;
    }
    RareOptional& operator=(RareOptional&&) noexcept = default;
    RareOptional& operator=(std::nullopt_t) noexcept {
        value_.reset();
        return *this;
    }

    bool has_value() const noexcept { return value_ != nullptr; }
    explicit operator bool() const noexcept { return has_value(); }
    const T& operator*() const { return *value_; }
    T& operator*() { return *value_; }
    const T* operator->() const { return value_.get(); }
    T* operator->() { return value_.get(); }
    void reset() noexcept { value_.reset(); }
    template <class U> T value_or(U&& fallback) const {
        return value_ ? *value_ : static_cast<T>(std::forward<U>(fallback));
    }
    // A copy as a std::optional, for code written against one.
    std::optional<T> optional() const { return value_ ? std::optional<T>(*value_) : std::nullopt; }

    friend bool operator==(const RareOptional& a, const RareOptional& b) {
        return a.has_value() ? b.has_value() && *a == *b : !b.has_value();
    }
    friend bool operator==(const RareOptional& a, const std::optional<T>& b) {
        return a.has_value() ? b.has_value() && *a == *b : !b.has_value();
    }
    // Like std::optional: a present value compares with a plain value; an absent one is unequal.
    template <class U>
    requires(!std::is_same_v<U, RareOptional> && !std::is_same_v<U, std::optional<T>> &&
             requires(const T& t, const U& u) { t == u; }) friend bool
    operator==(const RareOptional& a, const U& b) {
        return a.has_value() && *a == b;
    }

private:
    std::unique_ptr<T> value_;
};

template <class T> class RareList {
public:
    using const_iterator = typename std::vector<T>::const_iterator;
    using iterator = typename std::vector<T>::iterator;

    RareList() noexcept = default;
    RareList(std::vector<T> items) // NOLINT: a vector is a list
        : items_(items.empty() ? nullptr : std::make_unique<std::vector<T>>(std::move(items))) {}
    RareList(const RareList& other)
        : items_(other.items_ ? std::make_unique<std::vector<T>>(*other.items_) : nullptr) {}
    RareList(RareList&&) noexcept = default;
    RareList& operator=(const RareList& other) {
        if (this != &other) *this = RareList(other);
        return *this;
    }
    RareList& operator=(RareList&&) noexcept = default;

    bool empty() const noexcept { return items_ == nullptr || items_->empty(); }
    size_t size() const noexcept { return items_ == nullptr ? 0 : items_->size(); }
    const_iterator begin() const { return vector().begin(); }
    const_iterator end() const { return vector().end(); }
    const T& operator[](size_t i) const { return (*items_)[i]; }
    void push_back(T item) {
        if (items_ == nullptr) items_ = std::make_unique<std::vector<T>>();
        items_->push_back(std::move(item));
    }
    void clear() noexcept { items_.reset(); }

    const std::vector<T>& vector() const noexcept {
        static const std::vector<T> none;
        return items_ == nullptr ? none : *items_;
    }
    operator const std::vector<T>&() const noexcept { return vector(); } // NOLINT

    friend bool operator==(const RareList& a, const RareList& b) {
        return a.vector() == b.vector();
    }
    friend bool operator==(const RareList& a, const std::vector<T>& b) { return a.vector() == b; }

private:
    std::unique_ptr<std::vector<T>> items_;
};

} // namespace vok
