// The CALM export: a semantic graph written as a CALM document.
//
// The export only reads the graph. Nodes come in a fixed order of record kinds (entities,
// resources, resource instances, patterns, metrics, policies), each kind in insertion order, then
// the relationships: flows first, associations stored on entities after them. Two declarations of
// the model steer the output: the first mapping for CALM may give an entity another node type,
// add metadata to it and rename flow relationships; the first projection for CALM may add metadata
// to entity nodes. Roles, relations, entity instances, concept changes, mappings and projections
// are not written.
//
// The document is stamped with SOURCE_DATE_EPOCH when it holds a usable value and with the clock
// otherwise. The one side effect is a warning on file descriptor 2 for a flow whose resource is
// missing while a CALM mapping exists.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "calm/calm_model.h"
#include "graph/graph.h"
#include "primitives/mapping.h"
#include "json/value.h"

namespace vok::calm {

// The first rule whose primitive type equals `primitive_type` ignoring ASCII case and whose
// primitive name equals `primitive_name` exactly; nullptr when there is none.
const MappingRule* find_mapping_rule(std::span<const MappingRule> rules,
                                     std::string_view primitive_type,
                                     std::string_view primitive_name);

// The "flow-" id of a flow's relationship: SHA-256 over the resource, source and target id texts
// joined by zero bytes, in lower-case hex. Equal flows share it.
std::string flow_relationship_id(std::string_view resource_id, std::string_view source_id,
                                 std::string_view target_id);

CalmModel build_calm_model(const Graph& graph);

// The document as a generic value, its keys sorted at every level. Every part of the document is
// text, a boolean, an integer or a JSON value taken from the graph, so the conversion cannot fail.
json::Value export_calm(const Graph& graph);

} // namespace vok::calm
