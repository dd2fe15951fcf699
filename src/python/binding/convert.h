// Conversions between Python objects and C++ values.
//
// The from_* functions accept one Python object as a parameter kind of the module accepts it
// (text, flag, number, count, object of a class) and refuse anything else with the kind's own
// error; Args (args.h) applies them to bound arguments and adds the parameter's name. to_python
// turns a wrapper's C++ result into a new Python object, choosing the form from the C++ type:
//
//   Ref                        the object itself
//   bool                       True / False
//   std::string, string_view   str
//   integers                   int
//   double                     float
//   std::optional<X>           None, or X's form
//   std::vector<X>             a new list, built in full (on failure everything made is released)
//   std::pair / std::tuple     tuple
//   Member                     a new enumeration member
//   a VOK_PY_CLASS type        a new object of its class holding the value
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "python/binding/class_spec.h"
#include "python/binding/enumeration.h"
#include "python/binding/error.h"
#include "python/binding/list_in_place.h"

namespace vok::python {

// A str (or subclass) as UTF-8, borrowed from the object, which must outlive the view.
PyResult<std::string_view> text_from(PyObject* object);
// True or False, or a numpy boolean scalar read through its truth-value slot.
PyResult<bool> flag_from(PyObject* object);
// The same for a value that may be no flag at all: nothing then (nor for a numpy boolean without a
// truth-value slot); an exception only from reading one.
PyResult<std::optional<bool>> flag_if_any(PyObject* object);
// A float, or anything PyFloat_AsDouble accepts.
PyResult<double> number_from(PyObject* object);
// A non-negative integer below 2**64 (through __index__).
PyResult<std::uint64_t> count_from(PyObject* object);

// A copy of the value of an object of T's class, taken under a shared borrow.
template <PyClassValue T> PyResult<T> object_from(PyObject* object) {
    const ClassSpec& spec = ClassOf<T>::spec();
    VOK_ASSIGN(bool accepted, is_instance(object, spec));
    if (!accepted) return Err(downcast_error(object, spec.name));
    VOK_ASSIGN(auto borrow, borrow_shared(object));
    return T(instance_of<T>(object)->value());
}

PyResult<Ref> str_to_python(std::string_view text);

template <class X> PyResult<Ref> to_python(X&& value);

namespace detail {

template <class T> struct IsOptional : std::false_type {};
template <class T> struct IsOptional<std::optional<T>> : std::true_type {};
template <class T> struct IsVector : std::false_type {};
template <class T, class A> struct IsVector<std::vector<T, A>> : std::true_type {};
template <class T> struct IsTuple : std::false_type {};
template <class... T> struct IsTuple<std::tuple<T...>> : std::true_type {};
template <class A, class B> struct IsTuple<std::pair<A, B>> : std::true_type {};

inline PyResult<Ref> checked(PyObject* made) {
    if (made == nullptr) return Err(Error::fetch());
    return Ref::steal(made);
}

// A list or tuple is made at its full length and filled in place. Until its last slot is filled
// the collector does not track it, so that Python code run meanwhile (a signal handler at the
// poll of a long text) cannot meet its empty slots, even through gc.get_objects().
template <class Sequence> PyResult<Ref> list_to_python(Sequence&& items) {
    VOK_ASSIGN(Ref list, checked(PyList_New(Py_ssize_t(items.size()))));
    Py_ssize_t index = 0;
    ListInPlace filling(list.get(), index, true);
    for (auto&& item : items) {
        VOK_ASSIGN(Ref element, to_python(std::forward<decltype(item)>(item)));
        PyList_SET_ITEM(list.get(), index++, element.release());
    }
    filling.whole();
    return list;
}

template <class Tuple> PyResult<Ref> tuple_to_python(Tuple&& items) {
    constexpr std::size_t size = std::tuple_size_v<std::remove_cvref_t<Tuple>>;
    static_assert(size > 0, "the empty tuple is a shared object, not one to fill");
    VOK_ASSIGN(Ref tuple, checked(PyTuple_New(Py_ssize_t(size))));
    PyObject_GC_UnTrack(tuple.get());
    std::optional<Error> failed;
    auto fill = [&]<std::size_t... I>(std::index_sequence<I...>) {
        auto put = [&](std::size_t index, auto&& item) {
            if (failed) return;
            auto element = to_python(std::forward<decltype(item)>(item));
            if (!element.ok()) {
                failed.emplace(std::move(element).error());
                return;
            }
            PyTuple_SET_ITEM(tuple.get(), Py_ssize_t(index), std::move(element).value().release());
        };
        (put(I, std::get<I>(std::forward<Tuple>(items))), ...);
    };
    fill(std::make_index_sequence<size>());
    if (failed) return Err(std::move(*failed));
    PyObject_GC_Track(tuple.get());
    return tuple;
}

} // namespace detail

template <class X> PyResult<Ref> to_python(X&& value) {
    using V = std::remove_cvref_t<X>;
    if constexpr (std::is_same_v<V, Ref>) {
        return Ref(std::forward<X>(value));
    } else if constexpr (std::is_same_v<V, bool>) {
        return Ref::borrow(value ? Py_True : Py_False);
    } else if constexpr (std::is_convertible_v<const V&, std::string_view>) {
        return str_to_python(std::string_view(value));
    } else if constexpr (std::is_integral_v<V> && std::is_unsigned_v<V>) {
        return detail::checked(PyLong_FromUnsignedLongLong(value));
    } else if constexpr (std::is_integral_v<V>) {
        return detail::checked(PyLong_FromLongLong(value));
    } else if constexpr (std::is_floating_point_v<V>) {
        return detail::checked(PyFloat_FromDouble(double(value)));
    } else if constexpr (detail::IsOptional<V>::value) {
        if (!value.has_value()) return Ref::borrow(Py_None);
        return to_python(*std::forward<X>(value));
    } else if constexpr (detail::IsVector<V>::value) {
        return detail::list_to_python(std::forward<X>(value));
    } else if constexpr (detail::IsTuple<V>::value) {
        return detail::tuple_to_python(std::forward<X>(value));
    } else if constexpr (std::is_same_v<V, Member>) {
        return new_member(value.enumeration, value.index);
    } else if constexpr (PyClassValue<V>) {
        return new_object<V>(V(std::forward<X>(value)));
    } else {
        static_assert(sizeof(V) == 0, "this result type has no Python form");
    }
}

// The Python form of a wrapper's result: an error passes through, PyResult<void> gives None.
template <class X> PyResult<Ref> result_to_python(PyResult<X> result) {
    if (!result.ok()) return Err(std::move(result).error());
    if constexpr (std::is_void_v<X>) {
        return Ref::borrow(Py_None);
    } else {
        return to_python(std::move(result).value());
    }
}

} // namespace vok::python
