// The Python class Expression.
//
// Policy expressions built from Python code: static constructors for each of the thirteen kinds of
// node, the text form as str() and repr(), structural == and !=, and normalisation. Each object
// owns its own tree and never changes; sub-expressions passed as arguments are copied into the new
// tree, so the argument objects stay independent of the result. Objects are not hashable (== is
// structural, and 100 USD equals 100.00 USD while their normal forms hash apart); their normal
// forms are.
#pragma once

#include "expression/expression.h"
#include "python/binding/class_spec.h"

namespace vok::python {

extern const ClassSpec kExpressionClass;

} // namespace vok::python

VOK_PY_CLASS(vok::Expression, vok::python::kExpressionClass);
