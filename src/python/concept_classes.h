// The Python classes of the named concepts of a graph: Entity, Resource and Role.
//
// Each object owns a copy of one core record; records cross into and out of a Graph by copy, so
// an object never aliases a graph or another object. Each class has a constructor taking the name
// (and for Resource the unit symbol) as text and an optional namespace, read-only getters, a repr,
// and an open attribute map read and written through get_attribute / set_attribute.
#pragma once

#include "primitives/entity.h"
#include "primitives/resource.h"
#include "primitives/role.h"
#include "python/binding/class_spec.h"

namespace vok::python {

extern const ClassSpec kEntityClass;
extern const ClassSpec kResourceClass;
extern const ClassSpec kRoleClass;

} // namespace vok::python

VOK_PY_CLASS(vok::Entity, vok::python::kEntityClass);
VOK_PY_CLASS(vok::Resource, vok::python::kResourceClass);
VOK_PY_CLASS(vok::Role, vok::python::kRoleClass);
