// Integers by the attribute rules (json_conversion.h): one int, or the ints of a bytes, bytearray
// or range read straight into an array.
//
// Those three become arrays of their elements, as list() reads them. But list() of them is a loop
// in CPython that no signal stops, and it makes an int object per element only for the conversion
// to drop it again: a range of 10**8 took seconds and gigabytes before Ctrl-C was seen. Read here,
// the elements cost neither, the loop polls for cancellation between them, and the array (or the
// error of the first element beyond 64 bits) is the one list() would have led to.
#pragma once

#include <Python.h>

#include "python/binding/error.h"
#include "json/value.h"

namespace vok::python {

// An int (or a subclass's value) that fits 64 bits signed or unsigned; CPython's own
// OverflowError otherwise.
PyResult<json::Number> attribute_integer(PyObject* value);

// The bytes of an exact bytes or bytearray as ints, appended to `into`. A bytearray is read afresh
// at every element: Python code run at a poll (a signal handler) may resize it, as it may while
// list() iterates it, and the array then ends where the bytearray does.
PyResult<void> append_bytes(PyObject* bytes, json::Array& into);

// The elements of a range, appended to `into`.
PyResult<void> append_range(PyObject* range, json::Array& into);

} // namespace vok::python
