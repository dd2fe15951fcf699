// The wrapper of Graph.export_protobuf. After its arguments are converted nothing can fail: the
// projection turns any graph and any names into text, and the graph is only read (shared borrow).
#include "python/interchange/protobuf_methods.h"

#include "graph/graph.h"
#include "projection/protobuf_projection.h"
#include "python/binding/binding.h"
#include "python/graph_class.h"

namespace vok::python {

namespace {

constexpr Signature kExportProtobuf{"Graph.export_protobuf",
                                    {{"package"},
                                     {"namespace", "\"\""},
                                     {"projection_name", "\"\""},
                                     {"include_governance", "False"},
                                     {"include_services", "False"}}};

constexpr const char* kExportProtobufDoc =
    "Export the graph to Protobuf .proto text format.\n"
    "\n"
    "Args:\n"
    "    package: The package name of the generated .proto file\n"
    "    namespace: Only export records of this namespace (empty string for all namespaces)\n"
    "    projection_name: A name for the projection, used in the file's comments\n"
    "    include_governance: Whether to include the governance messages PolicyViolation and "
    "MetricEvent\n"
    "    include_services: Whether to generate gRPC service definitions from flows\n"
    "\n"
    "Returns:\n"
    "    The generated .proto file content as a string";

PyResult<std::string> export_protobuf(const Graph& self, Args& args) {
    VOK_ASSIGN(std::string_view package, args.text(0));
    VOK_ASSIGN(std::string_view namespace_filter, args.text_or(1, ""));
    VOK_ASSIGN(std::string_view projection_name, args.text_or(2, ""));
    VOK_ASSIGN(bool include_governance, args.flag_or(3, false));
    VOK_ASSIGN(bool include_services, args.flag_or(4, false));
    return projection::project_graph_to_proto(self, package, namespace_filter, projection_name,
                                              include_governance, include_services);
}

} // namespace

MethodRow export_protobuf_method() {
    return method<kExportProtobuf, export_protobuf>(kExportProtobufDoc);
}

} // namespace vok::python
