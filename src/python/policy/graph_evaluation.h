// Graph.evaluate_policy: the evaluation road for a policy given as JSON, as one row of the Graph
// class's method table.
#pragma once

#include "python/binding/class_spec.h"

namespace vok::python {

// The method row; the Graph class lists it in its table.
MethodRow graph_evaluate_policy_row();

} // namespace vok::python
