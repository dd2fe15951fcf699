// The Python classes of single graph records: Entity, Resource, Flow, ResourceInstance, Instance,
// Role, Relation, Mapping and Projection.
//
// Each object owns a copy of one core record; records cross into and out of a Graph by copy, so
// an object never aliases a graph or another object. The classes form one family: a constructor
// taking names as text and ids as UUID text (Mapping and Projection have none: only a graph holds
// them), read-only getters, a repr, and for five of them an open attribute map (for Instance, an
// open field map) read and written through get_attribute / set_attribute.
//
// The namespace getters show the namespace "default" as None (Relation excepted, which shows the
// text as it is): a record made without a namespace reads back the way it was made.
#pragma once

#include "primitives/mapping.h"
#include "primitives/projection.h"
#include "primitives/entity.h"
#include "primitives/flow.h"
#include "primitives/instance.h"
#include "primitives/relation.h"
#include "primitives/resource.h"
#include "primitives/resource_instance.h"
#include "primitives/role.h"
#include "python/binding/class_spec.h"

namespace vok::python {

extern const ClassSpec kEntityClass;
extern const ClassSpec kResourceClass;
extern const ClassSpec kFlowClass;
extern const ClassSpec kResourceInstanceClass;
extern const ClassSpec kInstanceClass;
extern const ClassSpec kMappingClass;
extern const ClassSpec kProjectionClass;
extern const ClassSpec kRoleClass;
extern const ClassSpec kRelationClass;

} // namespace vok::python

VOK_PY_CLASS(vok::Entity, vok::python::kEntityClass);
VOK_PY_CLASS(vok::Resource, vok::python::kResourceClass);
VOK_PY_CLASS(vok::Flow, vok::python::kFlowClass);
VOK_PY_CLASS(vok::ResourceInstance, vok::python::kResourceInstanceClass);
VOK_PY_CLASS(vok::Instance, vok::python::kInstanceClass);
VOK_PY_CLASS(vok::Mapping, vok::python::kMappingClass);
VOK_PY_CLASS(vok::Projection, vok::python::kProjectionClass);
VOK_PY_CLASS(vok::Role, vok::python::kRoleClass);
VOK_PY_CLASS(vok::Relation, vok::python::kRelationClass);
