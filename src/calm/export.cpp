// Building the CALM document from a graph; relies on crypto/ for the SHA-256 of flow ids, on the
// front end's full Unicode lower-casing for mapped node types and on the reproducible stamp. The
// document is built apart from the graph and only read from it, so it polls for cancellation per
// record.
#include "calm/export.h"

#include <cerrno>
#include <unistd.h>

#include "calm/calm_expression_text.h"
#include "common/ascii.h"
#include "common/cancellation.h"
#include "common/dropping.h"
#include "common/invariant.h"
#include "common/unicode_case.h"
#include "crypto/sha256.h"
#include "time/reproducible_timestamp.h"
#include "time/rfc3339.h"

namespace vok::calm {

namespace {

// The project version of the build (CMakeLists.txt), as the module reports it.
constexpr std::string_view kModuleVersion = VOK_VERSION;

// Writes the whole line to file descriptor 2, past interruptions and short writes. A failing
// descriptor loses the warning; the export goes on.
void write_to_stderr(std::string_view line) {
    while (!line.empty()) {
        const ssize_t written = ::write(2, line.data(), line.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        line.remove_prefix(static_cast<size_t>(written));
    }
}

template <class Record> const Record* first_for_calm(const IndexedMap<Uuid, Record>& records) {
    for (const auto& entry : records) {
        if (entry.second.target_format == TargetFormat::Calm) return &entry.second;
    }
    return nullptr;
}

CalmNode make_node(const Uuid& id, CalmNodeType type, std::string name, std::string namespace_name,
                   json::Object metadata) {
    return CalmNode{id.to_string(), type, std::move(name), std::move(namespace_name),
                    std::move(metadata)};
}

// A mapped node type: the rule's text lower-cased and matched exactly; anything else is no type.
std::optional<CalmNodeType> mapped_node_type(const json::Value* value) {
    if (value == nullptr || !value->is_string()) return std::nullopt;
    const std::string lowered = lowercase_text(value->as_string());
    for (size_t i = 0; i < kCalmNodeTypeNames.size(); ++i) {
        if (lowered == kCalmNodeTypeNames[i]) return static_cast<CalmNodeType>(i);
    }
    return std::nullopt;
}

CalmNode entity_node(const Entity& entity, const Mapping* mapping, const Projection* projection) {
    json::Object metadata;
    metadata.insert_or_assign("vok:primitive", "Entity");
    metadata.insert_or_assign("vok:attributes", entity.attributes);
    CalmNodeType type = CalmNodeType::Actor;
    if (mapping != nullptr) {
        if (const MappingRule* rule = find_mapping_rule(mapping->rules, "Entity", entity.name)) {
            type = mapped_node_type(rule->fields.find("node_type")).value_or(CalmNodeType::Actor);
            const json::Value* extra = rule->fields.find("metadata");
            if (extra != nullptr && extra->is_object()) {
                for (const auto& [key, value] : extra->as_object())
                    metadata.insert_or_assign(key, value);
            }
        }
    }
    if (projection != nullptr) {
        for (const ProjectionOverride& override_ : projection->overrides) {
            if (!equals_ignoring_ascii_case(override_.primitive_type, "Entity") ||
                override_.primitive_name != entity.name) {
                continue;
            }
            for (const auto& [key, value] : override_.fields)
                metadata.insert_or_assign(key, value);
            break;
        }
    }
    return make_node(entity.id, type, entity.name, entity.namespace_, std::move(metadata));
}

CalmNode metric_node(const Metric& metric) {
    json::Object metadata;
    metadata.insert_or_assign("vok:primitive", "Metric");
    metadata.insert_or_assign("vok:expression", expression_to_calm_text(metric.expression));
    metadata.insert_or_assign("vok:metric_type", "Metric");
    if (metric.refresh_interval) {
        metadata.insert_or_assign("vok:refresh_interval",
                                  json::Value::from_i64(metric.refresh_interval->seconds));
    }
    if (metric.unit) metadata.insert_or_assign("vok:unit", *metric.unit);
    if (metric.threshold) metadata.insert_or_assign("vok:threshold", metric.threshold->to_string());
    if (metric.severity) metadata.insert_or_assign("vok:severity", name_of(*metric.severity));
    if (metric.target) metadata.insert_or_assign("vok:target", metric.target->to_string());
    if (metric.window) {
        metadata.insert_or_assign("vok:window", json::Value::from_i64(metric.window->seconds));
    }
    return make_node(metric.id, CalmNodeType::Constraint, metric.name, metric.namespace_,
                     std::move(metadata));
}

CalmNode policy_node(const Policy& policy) {
    json::Object metadata;
    metadata.insert_or_assign("vok:primitive", "Policy");
    metadata.insert_or_assign("vok:expression", expression_to_calm_text(policy.expression));
    metadata.insert_or_assign("vok:expression_type", "VOK");
    metadata.insert_or_assign("vok:priority", json::Value::from_i64(policy.priority));
    metadata.insert_or_assign("vok:modality",
                              kDeonticModalityNames[static_cast<size_t>(policy.modality)]);
    metadata.insert_or_assign("vok:kind", kPolicyKindNames[static_cast<size_t>(policy.kind)]);
    return make_node(policy.id, CalmNodeType::Constraint, policy.name, policy.namespace_,
                     std::move(metadata));
}

CalmRelationship flow_relationship(const Graph& graph, const Flow& flow, const Mapping* mapping) {
    const std::string resource_id = flow.resource_id.to_string();
    const std::string source_id = flow.from_id.to_string();
    const std::string target_id = flow.to_id.to_string();
    RelationshipType type = FlowDetails{resource_id, flow.quantity.to_string()};
    if (mapping != nullptr) {
        const Resource* resource = graph.get_resource(flow.resource_id);
        if (resource == nullptr) {
            write_to_stderr("Warning: Resource with ID " + resource_id + " not found for flow " +
                            flow.id.to_string() + ". Skipping mapping.\n");
        } else if (const MappingRule* rule =
                       find_mapping_rule(mapping->rules, "Flow", resource->name)) {
            const json::Value* renamed = rule->fields.find("relationship_type");
            if (renamed != nullptr && renamed->is_string() && renamed->as_string() != "flow") {
                type = renamed->as_string();
            }
        }
    }
    return CalmRelationship{flow_relationship_id(resource_id, source_id, target_id),
                            std::move(type), SourceDestination{source_id, target_id}};
}

void append_associations(const Entity& entity, std::vector<CalmRelationship>& out) {
    const json::Value* associations = entity.attributes.find("associations");
    if (associations == nullptr || !associations->is_array()) return;
    const std::string entity_id = entity.id.to_string();
    for (const json::Value& element : associations->as_array()) {
        const json::Value* type = element.get("type");
        const json::Value* target = element.get("target");
        if (type == nullptr || !type->is_string() || target == nullptr || !target->is_string()) {
            continue;
        }
        out.push_back(CalmRelationship{"assoc-" + entity_id + "-" + target->as_string(),
                                       type->as_string(),
                                       SourceDestination{entity_id, target->as_string()}});
    }
}

} // namespace

const MappingRule* find_mapping_rule(std::span<const MappingRule> rules,
                                     std::string_view primitive_type,
                                     std::string_view primitive_name) {
    for (const MappingRule& rule : rules) {
        if (equals_ignoring_ascii_case(rule.primitive_type, primitive_type) &&
            rule.primitive_name == primitive_name) {
            return &rule;
        }
    }
    return nullptr;
}

std::string flow_relationship_id(std::string_view resource_id, std::string_view source_id,
                                 std::string_view target_id) {
    std::string input;
    input.reserve(resource_id.size() + source_id.size() + target_id.size() + 2);
    input.append(resource_id).push_back('\0');
    input.append(source_id).push_back('\0');
    input.append(target_id);
    return "flow-" + crypto::sha256_hex_digits(input);
}

CalmModel build_calm_model(const Graph& graph) {
    CalmModel model;
    const HandOffOnUnwind hand_off(model);
    model.metadata.exported = true;
    model.metadata.version = std::string(kModuleVersion);
    model.metadata.timestamp = reproducible_timestamp().value_or(format_rfc3339(now_utc()));

    const Mapping* mapping = first_for_calm(graph.mappings());
    const Projection* projection = first_for_calm(graph.projections());

    auto& nodes = model.nodes;
    nodes.reserve(graph.entities().size() + graph.resources().size() + graph.instances().size() +
                  graph.patterns().size() + graph.metrics().size() + graph.policies().size());
    for (const auto& [id, entity] : graph.entities()) {
        poll_cancellation();
        nodes.push_back(entity_node(entity, mapping, projection));
    }
    for (const auto& [id, resource] : graph.resources()) {
        poll_cancellation();
        json::Object metadata;
        metadata.insert_or_assign("vok:primitive", "Resource");
        metadata.insert_or_assign("vok:unit", resource.unit.symbol);
        metadata.insert_or_assign("vok:attributes", resource.attributes);
        nodes.push_back(make_node(id, CalmNodeType::Resource, resource.name, resource.namespace_,
                                  std::move(metadata)));
    }
    for (const auto& [id, instance] : graph.instances()) {
        poll_cancellation();
        json::Object metadata;
        metadata.insert_or_assign("vok:primitive", "Instance");
        metadata.insert_or_assign("vok:entity_id", instance.entity_id.to_string());
        metadata.insert_or_assign("vok:resource_id", instance.resource_id.to_string());
        metadata.insert_or_assign("vok:attributes", instance.attributes);
        nodes.push_back(make_node(id, CalmNodeType::Instance, "Instance of " + id.to_string(),
                                  instance.namespace_, std::move(metadata)));
    }
    for (const auto& [id, pattern] : graph.patterns()) {
        poll_cancellation();
        json::Object metadata;
        metadata.insert_or_assign("vok:primitive", "Pattern");
        metadata.insert_or_assign("vok:regex", pattern.regex);
        nodes.push_back(make_node(id, CalmNodeType::Constraint, pattern.name, pattern.namespace_,
                                  std::move(metadata)));
    }
    for (const auto& [id, metric] : graph.metrics()) {
        poll_cancellation();
        nodes.push_back(metric_node(metric));
    }
    for (const auto& [id, policy] : graph.policies()) {
        poll_cancellation();
        nodes.push_back(policy_node(policy));
    }

    // Reserved, the array is written an element at a time between polls rather than copied whole
    // into fresh memory each time it doubles; associations, which few entities have, may grow it.
    model.relationships.reserve(graph.flows().size());
    for (const auto& [id, flow] : graph.flows()) {
        poll_cancellation();
        model.relationships.push_back(flow_relationship(graph, flow, mapping));
    }
    for (const auto& [id, entity] : graph.entities()) {
        poll_cancellation();
        append_associations(entity, model.relationships);
    }
    return model;
}

json::Value export_calm(const Graph& graph) {
    return to_json(build_calm_model(graph));
}

} // namespace vok::calm
