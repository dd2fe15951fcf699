// Graph.export_calm and Graph.import_calm: the CALM document across the Python boundary.
//
// Both are rows of the Graph class's method table; this file holds their signatures and wrappers.
// The export prints the document as pretty JSON (keys sorted, two-space indent, no final line
// feed). The import is one operation from text to a new Graph: text that is not one JSON document
// is "Invalid JSON: ", every later refusal "Import error: ", both as ValueError.
#pragma once

#include <string>

#include "graph/graph.h"
#include "python/binding/binding.h"

namespace vok::python {

inline constexpr Signature kExportCalm{"Graph.export_calm"};
inline constexpr Signature kImportCalm{"Graph.import_calm", {{"calm_json"}}};

PyResult<std::string> export_calm_text(const Graph& self);
PyResult<Graph> import_calm_graph(Args& args);

} // namespace vok::python
