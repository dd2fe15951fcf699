// Ref: an owning reference to a Python object.
//
// Every Python object the binding layer holds is held through a Ref, so that a reference is
// released on every path out of a function, the error paths included, without hand-paired
// Py_INCREF/Py_DECREF. A Ref may be empty (it then owns nothing). Destroying or assigning a Ref
// touches reference counts, so it must happen with the interpreter lock held, which is true of all
// code of this module. Process-lifetime cells (the module, class objects) deliberately do not use
// Ref: their referents must outlive the interpreter's own teardown.
#pragma once

#include <Python.h>

#include <utility>

namespace vok::python {

class Ref {
public:
    Ref() = default;
    Ref(const Ref& other) : object_(other.object_) { Py_XINCREF(object_); }
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~Ref() { Py_XDECREF(object_); }

    // Takes over a new reference, as returned by most of the C API; null stays empty.
    static Ref steal(PyObject* object) { return Ref(object); }
    // Adds a reference of its own to a borrowed object.
    static Ref borrow(PyObject* object) {
        Py_XINCREF(object);
        return Ref(object);
    }

    PyObject* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Hands the reference to the caller (for returning to CPython).
    PyObject* release() { return std::exchange(object_, nullptr); }

private:
    explicit Ref(PyObject* object) : object_(object) {}
    PyObject* object_ = nullptr;
};

} // namespace vok::python
