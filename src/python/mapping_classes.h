// The Python classes of Mapping and Projection: read-only views of the records that say how a
// graph is written for an interchange format.
//
// They have no constructor (only a graph holds them, from DSL source); a Graph hands out copies.
#pragma once

#include "primitives/mapping.h"
#include "primitives/projection.h"
#include "python/binding/class_spec.h"

namespace vok::python {

extern const ClassSpec kMappingClass;
extern const ClassSpec kProjectionClass;

} // namespace vok::python

VOK_PY_CLASS(vok::Mapping, vok::python::kMappingClass);
VOK_PY_CLASS(vok::Projection, vok::python::kProjectionClass);
