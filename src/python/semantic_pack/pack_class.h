// The Python class SemanticPack: one pack document read into an object for inspection.
//
// The only way to make one is the static method `from_json`; the object owns the pack exactly as
// it was read (nothing recomputed, sorted or validated) and nothing changes it afterwards, so every
// method takes a shared borrow. Accessors are methods, not properties. Equality and hashing are
// Python's default, by identity. No other function of the module takes or returns the class: the
// other pack functions work on JSON text.
#pragma once

#include "python/binding/class_spec.h"
#include "semantic_pack/semantic_pack.h"

namespace vok::python {

extern const ClassSpec kSemanticPackClass;

} // namespace vok::python

VOK_PY_CLASS(vok::semantic_pack::SemanticPack, vok::python::kSemanticPackClass);
