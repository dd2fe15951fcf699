// Graph.export_protobuf: the graph as `.proto` text, a row of the Graph class's method table.
#pragma once

#include "python/binding/class_spec.h"

namespace vok::python {

// Made on request rather than held as a constant so that the Graph table, in another file, can
// list it without depending on the order in which files initialise their constants.
MethodRow export_protobuf_method();

} // namespace vok::python
