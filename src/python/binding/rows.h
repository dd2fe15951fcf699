// Table rows: binding a small wrapper to the generic call frame.
//
// A class table lists rows made by these helpers; each helper instantiates the CPython entry for
// its wrapper, which runs the frame's steps in order: bind the arguments to the Signature, check
// and borrow the receiving object (shared, or exclusive for exclusive_method), let the wrapper
// convert its arguments and call the core, convert the result (convert.h), release the borrow.
//
// Wrapper shapes (T is the class's C++ value type, R any type with a Python form):
//
//   method<kSig, fn>(doc)              PyResult<R> fn(const T& self, Args& args)
//                                      PyResult<R> fn(const T& self)       (no parameters)
//   exclusive_method<kSig, fn>(doc)    PyResult<R> fn(T& self, Args& args)  (changes self)
//   static_method<kSig, fn>(doc)       PyResult<R> fn(Args& args) or fn()
//   property<fn>(name, doc)            PyResult<R> fn(const T& self)      (getter)
//   constructor<kSig, fn>()            PyResult<T> fn(Args& args)
//   unary_slot<fn>                     PyResult<R> fn(const T& self)        (repr, str, int)
//   richcompare_slot<fn>               PyResult<R> fn(const T& self, PyObject* other, int op)
//   hash_slot<fn>                      PyResult<std::uint64_t> fn(const T& self)
//   function<kSig, fn>(doc)            PyResult<R> fn(Args& args)           (module functions)
//
// `doc` is the documentation after the text signature, which is written from the Signature.
// A method takes Args exactly when its Signature has parameters (CPython's no-argument
// convention otherwise).
#pragma once

#include <Python.h>

#include <cstdint>
#include <type_traits>

#include "python/binding/args.h"
#include "python/binding/bind.h"
#include "python/binding/call_frame.h"
#include "python/binding/class_spec.h"
#include "python/binding/convert.h"

namespace vok::python {

// A module function: its signature, documentation after the text signature, and entry.
struct FunctionRow {
    const Signature* signature;
    const char* doc;
    PyCFunction entry;
};

namespace detail {

template <class F> struct MethodTraits;
template <class R, class T> struct MethodTraits<PyResult<R> (*)(T&, Args&)> {
    using Self = std::remove_const_t<T>;
    static constexpr Access access = std::is_const_v<T> ? Access::Shared : Access::Exclusive;
    static constexpr bool takes_args = true;
};
template <class R, class T> struct MethodTraits<PyResult<R> (*)(T&)> {
    using Self = std::remove_const_t<T>;
    static constexpr Access access = std::is_const_v<T> ? Access::Shared : Access::Exclusive;
    static constexpr bool takes_args = false;
};

template <class F> struct StaticTraits;
template <class R> struct StaticTraits<PyResult<R> (*)(Args&)> {
    static constexpr bool takes_args = true;
};
template <class R> struct StaticTraits<PyResult<R> (*)()> {
    static constexpr bool takes_args = false;
};

template <class F> struct CompareTraits;
template <class R, class T> struct CompareTraits<PyResult<R> (*)(const T&, PyObject*, int)> {
    using Self = T;
};

template <class F> struct ConstructorTraits;
template <class T> struct ConstructorTraits<PyResult<T> (*)(Args&)> { using Value = T; };

template <class F> PyCFunction as_cfunction(F entry) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
}

// Checks that `self` is an object of T's class and borrows it. A wrong object gives the downcast
// text naming the class, without an argument prefix: the receiver is not an argument.
template <class T, Access A> PyResult<Borrowed<T, A>> borrow_self(PyObject* self) {
    const ClassSpec& spec = ClassOf<T>::spec();
    VOK_ASSIGN(bool accepted, is_instance(self, spec));
    if (!accepted) return Err(downcast_error(self, spec.name));
    VOK_ASSIGN(auto guard, borrow<A>(self));
    return Borrowed<T, A>(std::move(guard));
}

template <const Signature& S, auto Fn>
PyObject* method_fastcall(PyObject* self, PyObject* const* argv, Py_ssize_t nargs,
                          PyObject* kwnames) {
    using W = MethodTraits<decltype(Fn)>;
    return call_frame(
        [&]() -> PyResult<Ref> {
            BoundSlots slots;
            VOK_TRY(bind_fastcall(S, argv, nargs, kwnames, slots));
            VOK_ASSIGN(auto receiver, (borrow_self<typename W::Self, W::access>(self)));
            Args args(S, slots);
            return result_to_python(Fn(receiver.get(), args));
        },
        S.display_name);
}

template <auto Fn> PyObject* method_noargs(PyObject* self, PyObject*) {
    using W = MethodTraits<decltype(Fn)>;
    return call_frame(
        [&]() -> PyResult<Ref> {
            VOK_ASSIGN(auto receiver, (borrow_self<typename W::Self, W::access>(self)));
            return result_to_python(Fn(receiver.get()));
        },
        nullptr, self);
}

template <const Signature& S, auto Fn>
PyObject* static_fastcall(PyObject*, PyObject* const* argv, Py_ssize_t nargs, PyObject* kwnames) {
    return call_frame(
        [&]() -> PyResult<Ref> {
            BoundSlots slots;
            VOK_TRY(bind_fastcall(S, argv, nargs, kwnames, slots));
            Args args(S, slots);
            return result_to_python(Fn(args));
        },
        S.display_name);
}

template <auto Fn> PyObject* static_noargs(PyObject*, PyObject*) {
    return call_frame([&]() -> PyResult<Ref> { return result_to_python(Fn()); });
}

template <auto Fn> PyObject* getter_entry(PyObject* self, void*) {
    using W = MethodTraits<decltype(Fn)>;
    static_assert(W::access == Access::Shared, "getters take their object as const T&");
    return call_frame(
        [&]() -> PyResult<Ref> {
            VOK_ASSIGN(auto receiver, (borrow_self<typename W::Self, Access::Shared>(self)));
            return result_to_python(Fn(receiver.get()));
        },
        nullptr, self);
}

template <const Signature& S, auto Fn>
PyObject* constructor_entry(PyTypeObject* type, PyObject* argv, PyObject* kwargs) {
    using T = typename ConstructorTraits<decltype(Fn)>::Value;
    return call_frame(
        [&]() -> PyResult<Ref> {
            BoundSlots slots;
            VOK_TRY(bind_tuple(S, argv, kwargs, slots));
            Args args(S, slots);
            VOK_ASSIGN(T value, Fn(args));
            return make_instance<T>(type, std::move(value));
        },
        S.display_name);
}

template <const Signature& S, auto Fn, Access A> MethodRow make_method_row(const char* doc) {
    using W = MethodTraits<decltype(Fn)>;
    static_assert(S.well_formed(), "a required parameter follows one with a default");
    static_assert(W::takes_args == (S.size() > 0),
                  "a wrapper takes Args exactly when its signature has parameters");
    static_assert(W::access == A, "shared methods take const T&, exclusive methods T&");
    if constexpr (W::takes_args) {
        return MethodRow{&S, doc, as_cfunction(&method_fastcall<S, Fn>),
                         METH_FASTCALL | METH_KEYWORDS};
    } else {
        return MethodRow{&S, doc, as_cfunction(&method_noargs<Fn>), METH_NOARGS};
    }
}

} // namespace detail

// A method that reads its object (shared borrow).
template <const Signature& S, auto Fn> MethodRow method(const char* doc = nullptr) {
    return detail::make_method_row<S, Fn, Access::Shared>(doc);
}

// A method that changes its object: the exclusive borrow is taken before any argument is
// converted.
template <const Signature& S, auto Fn> MethodRow exclusive_method(const char* doc = nullptr) {
    return detail::make_method_row<S, Fn, Access::Exclusive>(doc);
}

template <const Signature& S, auto Fn> MethodRow static_method(const char* doc = nullptr) {
    using W = detail::StaticTraits<decltype(Fn)>;
    static_assert(S.well_formed(), "a required parameter follows one with a default");
    static_assert(W::takes_args == (S.size() > 0),
                  "a wrapper takes Args exactly when its signature has parameters");
    if constexpr (W::takes_args) {
        return MethodRow{&S, doc, detail::as_cfunction(&detail::static_fastcall<S, Fn>),
                         METH_FASTCALL | METH_KEYWORDS | METH_STATIC};
    } else {
        return MethodRow{&S, doc, detail::as_cfunction(&detail::static_noargs<Fn>),
                         METH_NOARGS | METH_STATIC};
    }
}

// A read-only property (CPython's getter; named `property` because the C API's `getter` type
// would hide it).
template <auto Fn> GetterRow property(const char* name, const char* doc = nullptr) {
    return GetterRow{name, &detail::getter_entry<Fn>, doc};
}

template <const Signature& S, auto Fn> ConstructorRow constructor() {
    static_assert(S.well_formed(), "a required parameter follows one with a default");
    return ConstructorRow{&S, &detail::constructor_entry<S, Fn>};
}

// Slots: assign `unary_slot<fn>` and the others to the members of SlotRow.
template <auto Fn> PyObject* unary_slot(PyObject* self) {
    using W = detail::MethodTraits<decltype(Fn)>;
    static_assert(W::access == Access::Shared, "slots take their object as const T&");
    return call_frame([&]() -> PyResult<Ref> {
        VOK_ASSIGN(auto receiver, (detail::borrow_self<typename W::Self, Access::Shared>(self)));
        return result_to_python(Fn(receiver.get()));
    });
}

template <auto Fn> PyObject* richcompare_slot(PyObject* self, PyObject* other, int op) {
    using T = typename detail::CompareTraits<decltype(Fn)>::Self;
    return call_frame([&]() -> PyResult<Ref> {
        VOK_ASSIGN(bool accepted, is_instance(self, ClassOf<T>::spec()));
        if (!accepted) return Ref::borrow(Py_NotImplemented);
        VOK_ASSIGN(auto receiver, (detail::borrow_self<T, Access::Shared>(self)));
        return result_to_python(Fn(receiver.get(), other, op));
    });
}

template <auto Fn> Py_hash_t hash_slot(PyObject* self) {
    using W = detail::MethodTraits<decltype(Fn)>;
    return call_frame([&]() -> PyResult<Py_hash_t> {
        VOK_ASSIGN(auto receiver, (detail::borrow_self<typename W::Self, Access::Shared>(self)));
        VOK_ASSIGN(std::uint64_t hash, Fn(receiver.get()));
        // -1 is CPython's failure value; a hash that comes out as -1 is reported as -2.
        auto value = static_cast<Py_hash_t>(hash);
        return value == -1 ? Py_hash_t(-2) : value;
    });
}

template <const Signature& S, auto Fn> FunctionRow function(const char* doc = nullptr) {
    static_assert(S.well_formed(), "a required parameter follows one with a default");
    static_assert(S.size() > 0, "module functions take parameters");
    return FunctionRow{&S, doc, detail::as_cfunction(&detail::static_fastcall<S, Fn>)};
}

} // namespace vok::python
