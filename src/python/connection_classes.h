// The Python classes of the records that connect concepts: Flow (a resource moving between two
// entities) and Relation (a predicate between two roles).
//
// Each object owns a copy of one core record, made from ids given as UUID text; records cross into
// and out of a Graph by copy. Flow has an open attribute map; Relation shows its namespace as
// the text it holds ("default" included), unlike the other records.
#pragma once

#include "primitives/flow.h"
#include "primitives/relation.h"
#include "python/binding/class_spec.h"

namespace vok::python {

extern const ClassSpec kFlowClass;
extern const ClassSpec kRelationClass;

} // namespace vok::python

VOK_PY_CLASS(vok::Flow, vok::python::kFlowClass);
VOK_PY_CLASS(vok::Relation, vok::python::kRelationClass);
