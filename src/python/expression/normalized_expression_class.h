// The Python class NormalizedExpression.
//
// The normal form of an Expression with its stable hash, made only by Expression.normalize. It is
// the module's one hashable class: hash() is the stable hash read as a signed 64-bit integer, and
// equal objects have equal stable hashes, so normal forms serve as dictionary and set keys that
// mean the same in every process. Objects never change; inner_expression hands out copies.
#pragma once

#include "policy/normalized_expression.h"
#include "python/binding/class_spec.h"

namespace vok::python {

extern const ClassSpec kNormalizedExpressionClass;

} // namespace vok::python

VOK_PY_CLASS(vok::NormalizedExpression, vok::python::kNormalizedExpressionClass);
