// The protobuf projection: a semantic graph as the text of one proto3 `.proto` file.
//
// One message per entity and per resource (their attributes become optional or repeated scalar
// fields), optionally the two governance messages PolicyViolation and MetricEvent, and optionally
// one gRPC service per flow target name with one rpc per flow and a response message per output
// type. The text depends only on the graph, the arguments and SOURCE_DATE_EPOCH (the stamp of
// the "Generated At" line; without a usable value the line is left empty, the clock is never
// read): attributes are walked in key order and messages and services are sorted by name.
//
// The graph is only read. Names are converted by proto_names.h; duplicate names are not detected
// (two entities whose names convert alike give two messages of that name), so the text of an
// arbitrary graph need not compile, but it is always produced.
#pragma once

#include <string>
#include <string_view>

#include "graph/graph.h"
#include "primitives/flow.h"
#include "projection/proto_file.h"
#include "json/value.h"

namespace vok::projection {

// The field type of an attribute value: bool for booleans, int64 for integers, double for other
// numbers, string for everything else (null, strings, arrays, objects).
ProtoScalar proto_scalar_for(const json::Value& value);

// The flow's attribute "streaming" read as a streaming mode; anything unrecognised is unary.
StreamingMode streaming_mode_of(const Flow& flow);

// An empty `namespace_filter` keeps every record; otherwise only records whose namespace equals
// it byte for byte.
std::string project_graph_to_proto(const Graph& graph, std::string_view package,
                                   std::string_view namespace_filter,
                                   std::string_view projection_name, bool include_governance,
                                   bool include_services);

} // namespace vok::projection
