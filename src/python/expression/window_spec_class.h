// The Python class WindowSpec.
//
// The time window an aggregation comprehension may carry: a duration count and a unit text, kept
// as given (the unit is not looked up anywhere). Objects are made by Python code, never change,
// and hand their two fields to Expression.aggregation_comprehension, which copies them.
#pragma once

#include "expression/expression.h"
#include "python/binding/class_spec.h"

namespace vok::python {

extern const ClassSpec kWindowSpecClass;

} // namespace vok::python

VOK_PY_CLASS(vok::WindowSpec, vok::python::kWindowSpecClass);
