// Result<T, E>: the value an operation produced, or the error that stopped it.
//
// Core operations never throw across subsystem boundaries; they return a Result and the caller
// decides what the error becomes (the Python layer turns it into an exception). The type is a thin
// wrapper over std::variant with the handful of accessors the code base uses. Result<void, E> holds
// only an error or nothing.
#pragma once

#include <cassert>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace vok {

// Tag that marks an error value when constructing a Result: `return Err(message);`.
template <class E> struct ErrValue { E error; };

template <class E> ErrValue<std::decay_t<E>> Err(E&& error) {
    return ErrValue<std::decay_t<E>>{std::forward<E>(error)};
}

template <class T, class E> class [[nodiscard]] Result {
public:
    // Two overloads rather than one by value: a value is moved into place once, not twice (trees
    // built bottom-up pass every node through a Result).
    Result(T&& value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(const T& value) : state_(std::in_place_index<0>, value) {}
    template <class F, class = std::enable_if_t<std::is_convertible_v<F, E>>>
    Result(ErrValue<F> err) : state_(std::in_place_index<1>, E(std::move(err.error))) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    E& error() & { return std::get<1>(state_); }
    const E& error() const& { return std::get<1>(state_); }
    E&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, E> state_;
};

template <class E> class [[nodiscard]] Result<void, E> {
public:
    Result() = default;
    template <class F, class = std::enable_if_t<std::is_convertible_v<F, E>>>
    Result(ErrValue<F> err) : error_(std::in_place, E(std::move(err.error))) {}

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }

    E& error() & { return *error_; }
    const E& error() const& { return *error_; }
    E&& error() && { return std::move(*error_); }

private:
    std::optional<E> error_;
};

// Ok() for Result<void, E>: `return Ok();`.
struct OkValue {
    template <class E> operator Result<void, E>() const { return Result<void, E>(); }
};
inline OkValue Ok() {
    return {};
}

} // namespace vok

// Propagates the error of a Result-returning expression: VOK_TRY(check(x));
#define VOK_TRY(expr)                                                                              \
    do {                                                                                           \
        auto vok_try_result_ = (expr);                                                             \
        if (!vok_try_result_.ok()) return ::vok::Err(std::move(vok_try_result_).error());          \
    } while (0)

// Binds the value of a Result-returning expression or propagates its error:
// VOK_ASSIGN(auto value, read(x));
#define VOK_CONCAT_INNER_(a, b) a##b
#define VOK_CONCAT_(a, b) VOK_CONCAT_INNER_(a, b)
#define VOK_ASSIGN(decl, expr)                                                                     \
    VOK_ASSIGN_IMPL_(VOK_CONCAT_(vok_assign_result_, __LINE__), decl, expr)
#define VOK_ASSIGN_IMPL_(tmp, decl, expr)                                                          \
    auto tmp = (expr);                                                                             \
    if (!tmp.ok()) return ::vok::Err(std::move(tmp).error());                                      \
    decl = std::move(tmp).value()
