// The Python classes of policy evaluation results: Violation and EvaluationResult.
//
// Both are read-only values made only by the module (Graph.evaluate_policy builds the result, the
// `violations` getter makes the Violation objects); each object owns its own copy of the core
// record, and every getter hands out new Python objects.
#pragma once

#include "policy/evaluation_result.h"
#include "python/binding/class_spec.h"

namespace vok::python {

extern const ClassSpec kViolationClass;
extern const ClassSpec kEvaluationResultClass;

} // namespace vok::python

VOK_PY_CLASS(vok::Violation, vok::python::kViolationClass);
VOK_PY_CLASS(vok::EvaluationResult, vok::python::kEvaluationResultClass);
