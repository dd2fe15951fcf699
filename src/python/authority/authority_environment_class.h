// The Python class AuthorityEnvironment and the module function evaluate_authority.
//
// Both take the configuration, the request and the facts as JSON text and return the trace and
// the decision as a pair of JSON texts. Every failure is one ValueError whose prefix names the
// step that failed; the class and the function word four of those prefixes differently. An
// AuthorityEnvironment object keeps its environment, its validated flag and its evidence store
// for as long as Python holds it: `validate` takes it exclusively, `evaluate` shares it (the
// store has its own lock for the append).
#pragma once

#include "authority/environment.h"
#include "python/binding/class_spec.h"
#include "python/binding/rows.h"

namespace vok::python {

extern const ClassSpec kAuthorityEnvironmentClass;
extern const FunctionRow kEvaluateAuthority;

} // namespace vok::python

VOK_PY_CLASS(vok::authority::AuthorityEnvironment, vok::python::kAuthorityEnvironmentClass);
