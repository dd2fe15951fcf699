// The Python class Graph.
//
// A Graph object owns one semantic graph for its whole life; nothing else shares it. Records
// cross the boundary by copy in both directions: an adder copies the record out of its argument
// object, and every getter and list method returns new record objects holding copies, so later
// changes on either side never reach the other. Ids cross as UUID text.
//
// The changing methods (the adders, add_policy, add_association, set_evaluation_mode) borrow the
// object exclusively, before any argument is converted; every other method borrows it shared.
#pragma once

#include "graph/graph.h"
#include "python/binding/class_spec.h"

namespace vok::python {

extern const ClassSpec kGraphClass;

} // namespace vok::python

VOK_PY_CLASS(vok::Graph, vok::python::kGraphClass);
