// ObjectBody: the body of a Python object of one of the module's classes, and the borrow rule.
// (Named apart from the core record vok::Instance.)
//
// A body owns one core value (a copy, never a reference into another object) and a borrow flag:
// 0 while free, a positive count while shared borrows are in progress, -1 while one exclusive
// borrow is in progress. The interpreter lock is held by every call and never released, so a
// conflict arises only when Python code runs inside a call (an argument's __index__, say) and
// reaches the same object again; the flag turns that into a RuntimeError instead of letting two
// views of one value overlap while one of them changes it. Bodies hold no Python references and
// take no part in cycle collection.
#pragma once

#include <Python.h>

#include <atomic>
#include <new>
#include <utility>

#include "python/binding/error.h"

namespace vok::python {

enum class Access { Shared, Exclusive };

struct ObjectHeader {
    PyObject object;
    std::atomic<Py_ssize_t> borrow_flag;
};

template <class T> struct ObjectBody {
    ObjectHeader header;
    alignas(T) unsigned char storage[sizeof(T)];

    T& value() { return *std::launder(reinterpret_cast<T*>(storage)); }
};

inline ObjectHeader* header_of(PyObject* object) {
    return reinterpret_cast<ObjectHeader*>(object);
}

template <class T> ObjectBody<T>* instance_of(PyObject* object) {
    return reinterpret_cast<ObjectBody<T>*>(object);
}

// A borrow in progress; released when the guard is destroyed. Movable, not copyable.
template <Access A> class BorrowGuard {
public:
    explicit BorrowGuard(ObjectHeader* header) : header_(header) {}
    BorrowGuard(BorrowGuard&& other) noexcept : header_(std::exchange(other.header_, nullptr)) {}
    BorrowGuard& operator=(BorrowGuard&&) = delete;
    ~BorrowGuard() {
        if (header_ == nullptr) return;
        if constexpr (A == Access::Shared) {
            header_->borrow_flag.fetch_sub(1);
        } else {
            header_->borrow_flag.store(0);
        }
    }
    PyObject* object() const { return &header_->object; }

private:
    ObjectHeader* header_;
};

PyResult<BorrowGuard<Access::Shared>> borrow_shared(PyObject* object);
PyResult<BorrowGuard<Access::Exclusive>> borrow_exclusive(PyObject* object);

template <Access A> PyResult<BorrowGuard<A>> borrow(PyObject* object) {
    if constexpr (A == Access::Shared) {
        return borrow_shared(object);
    } else {
        return borrow_exclusive(object);
    }
}

// The receiving object of a call, borrowed for the call: `get()` is a const view under a shared
// borrow and a mutable one under an exclusive borrow.
template <class T, Access A> class Borrowed {
public:
    explicit Borrowed(BorrowGuard<A> guard) : guard_(std::move(guard)) {}
    auto& get() const {
        T& value = instance_of<T>(guard_.object())->value();
        if constexpr (A == Access::Shared) {
            return std::as_const(value);
        } else {
            return value;
        }
    }

private:
    BorrowGuard<A> guard_;
};

// tp_dealloc of every class holding a T: drops the core value, frees the object, and releases
// the reference that a heap type's instances hold on their type.
template <class T> void dealloc_instance(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    instance_of<T>(object)->value().~T();
    auto free_function = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_function(object);
    Py_DECREF(type);
}

// Allocates an object of `type` (whose instances hold a T) and moves the value into it. When
// allocation fails the value is dropped and the allocation's error returned.
template <class T> PyResult<Ref> make_instance(PyTypeObject* type, T value) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    Ref object = Ref::steal(alloc(type, 0));
    if (!object) return Err(Error::fetch());
    ObjectBody<T>* instance = instance_of<T>(object.get());
    new (instance->storage) T(std::move(value));
    instance->header.borrow_flag.store(0);
    return object;
}

} // namespace vok::python
