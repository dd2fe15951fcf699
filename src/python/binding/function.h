// Module functions as builtin function objects.
//
// A module function is declared as a FunctionRow (rows.h: function<kSig, fn>(doc)); the module
// body turns it into a builtin function object with the fast-call-with-keywords convention,
// bound to the module so that its __module__ is the module's name and its docstring begins with
// the text signature written from the Signature.
#pragma once

#include <Python.h>

#include "python/binding/error.h"
#include "python/binding/rows.h"

namespace vok::python {

PyResult<Ref> make_function(PyObject* module, const FunctionRow& row);

} // namespace vok::python
