// The Python class SemanticValidationResult: a validation result read back from its JSON text.
//
// The only way to make one is the static method `from_json`; the object then holds the whole
// record as read and never changes, so every method borrows it shared. Only the status, the
// diagnostics (as the same JSON array that validation writes) and the two bypass flags have
// accessors; the pack set, input hash, mode, hash checks and evidence reference are kept but not
// exposed. The class has no docstring and no constructor.
#pragma once

#include "python/binding/class_spec.h"
#include "semantic_pack/validation_result.h"

namespace vok::python {

extern const ClassSpec kSemanticValidationResultClass;

} // namespace vok::python

VOK_PY_CLASS(vok::semantic_pack::SemanticValidationResult,
             vok::python::kSemanticValidationResultClass);
