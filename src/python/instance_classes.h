// The Python classes of instances: ResourceInstance (a resource held by an entity) and Instance
// (a named instance of an entity type with an open field map, read and written through
// get_field / set_field).
//
// Each object owns a copy of one core record; records cross into and out of a Graph by copy.
#pragma once

#include "primitives/instance.h"
#include "primitives/resource_instance.h"
#include "python/binding/class_spec.h"

namespace vok::python {

extern const ClassSpec kResourceInstanceClass;
extern const ClassSpec kInstanceClass;

} // namespace vok::python

VOK_PY_CLASS(vok::ResourceInstance, vok::python::kResourceInstanceClass);
VOK_PY_CLASS(vok::Instance, vok::python::kInstanceClass);
