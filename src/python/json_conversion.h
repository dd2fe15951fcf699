// Conversion between Python values and generic JSON values.
//
// Open attributes and fields, association entries and expression literals are generic JSON values
// in the core; Python code hands them in and gets them back as plain Python values. There are two
// ways in, because the two callers were designed apart and their rules differ in visible ways:
//
// - value_from_python, for set_attribute / set_field: accepts the Python types by class: None,
//   bool, int fitting 64 bits signed or unsigned, finite float, str, a dict or any other mapping
//   (a collections.abc.Mapping) with str keys, and any other sequence, or a set or frozenset, read
//   as list() reads it (so bytes, bytearray, range, a memoryview and an array.array of ints,
//   floats or bools become arrays of their elements, read straight from the object when it is of
//   the exact type: buffer_arrays.h; a set comes in its iteration order). Anything else, other
//   set types such as a dict's views included, is refused with a TypeError that names its type.
// - literal_from_python, for Expression.literal: tries conversions in a fixed order (flag,
//   anything with __index__ that fits i64, anything PyFloat_AsDouble takes, str, list or tuple,
//   dict) and refuses the rest with ValueError "Cannot convert Python value to JSON: " and the
//   repr of the innermost value that failed.
//
// The way out, value_to_python, is the same for both. Each nested container takes a level of
// CPython's recursion budget (so self-referencing or absurdly deep containers raise RecursionError,
// as CPython's own json module does), and a value nested more than 10,000 levels deep is refused
// whatever that budget; the walks themselves need no stack beyond their first frame. All three
// poll for cancellation as they go.
#pragma once

#include <Python.h>

#include "python/binding/error.h"
#include "python/binding/ref.h"
#include "json/value.h"

namespace vok::python {

// The attribute rules. On failure nothing has been stored anywhere; the caller's map is untouched.
PyResult<json::Value> value_from_python(PyObject* value);

// The literal rules of Expression.literal.
PyResult<json::Value> literal_from_python(PyObject* value);

// null -> None, booleans, integers -> int, floats -> float, strings, arrays -> list,
// objects -> dict (keys in the object's order, which is ascending byte order).
PyResult<Ref> value_to_python(const json::Value& value);

} // namespace vok::python
