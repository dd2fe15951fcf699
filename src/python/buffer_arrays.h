// Sequences read straight into an array by the attribute rules (json_conversion.h): the ints of a
// bytes, bytearray or range, the items of a memoryview or array.array, and one int on its own.
//
// Those become arrays of their elements, as list() reads them. But list() of them is a loop in
// CPython that no signal stops, and it makes an object per element only for the conversion to
// drop it again: a range of 10**8 took seconds and gigabytes before Ctrl-C was seen. Read here,
// the elements cost neither, the loop polls for cancellation between them, and the array (or the
// error of the first element the conversion refuses: an int beyond 64 bits, a float that is not
// finite) is the one list() would have led to. Stopped part-way, the array is dropped by the
// conversion with the rest of what it had made.
#pragma once

#include <Python.h>

#include "python/binding/error.h"
#include "json/value.h"

namespace vok::python {

// An int (or a subclass's value) that fits 64 bits signed or unsigned; CPython's own
// OverflowError otherwise. Inlined: it converts most of the ints of every value.
[[gnu::always_inline]] inline PyResult<json::Number> attribute_integer(PyObject* value) {
    int overflow = 0;
    long long signed_value = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow == 0) {
        if (signed_value == -1 && PyErr_Occurred()) return Err(Error::fetch());
        return json::Number::from_i64(signed_value);
    }
    // Beyond i64: positive values up to 2**64 - 1 still fit; anything else raises CPython's own
    // OverflowError from the conversion that failed.
    if (overflow < 0) {
        PyLong_AsLongLong(value);
        return Err(Error::fetch());
    }
    unsigned long long unsigned_value = PyLong_AsUnsignedLongLong(value);
    if (unsigned_value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        return Err(Error::fetch());
    }
    return json::Number::from_u64(unsigned_value);
}

// The bytes of an exact bytes or bytearray as ints, appended to `into`. A bytearray is read afresh
// at every element: Python code run at a poll (a signal handler) may resize it, as it may while
// list() iterates it, and the array then ends where the bytearray does.
PyResult<void> append_bytes(PyObject* bytes, json::Array& into);

// The elements of a range, appended to `into`.
PyResult<void> append_range(PyObject* range, json::Array& into);

// Whether `type` is array.array itself (not a subclass, which may iterate as it likes).
bool is_exact_array_type(PyTypeObject* type);

// For a memoryview or array.array whose list() gives ints, floats or bools (one-dimensional, of
// a native integer or float format or '?', at any stride), its items as an array in `slot`, and
// true; false, touching nothing, for any other, which list() reads. A float that is not finite
// raises the conversion's ValueError at the first such item. Python code run at a poll may resize
// the array or release the view: the items then end where the buffer does, or the view's own
// error ends the call.
PyResult<bool> append_buffer_items(PyObject* object, json::Value& slot);

} // namespace vok::python
