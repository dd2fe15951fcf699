// Binding a call's arguments to a Signature's parameters.
//
// Both of CPython's calling conventions that carry arguments end here: the fast-call form
// (positional vector plus a tuple of keyword names) of methods and functions, and the tuple and
// dictionary of constructors. Binding only places arguments; converting them is the wrapper's
// business (args.h), so that an exclusive borrow can be taken in between. Every parameter may be
// given by position or by keyword.
#pragma once

#include <Python.h>

#include "python/binding/error.h"
#include "python/binding/signature.h"

namespace vok::python {

PyResult<void> bind_fastcall(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames, BoundSlots& slots);

PyResult<void> bind_tuple(const Signature& signature, PyObject* args, PyObject* kwargs,
                          BoundSlots& slots);

} // namespace vok::python
