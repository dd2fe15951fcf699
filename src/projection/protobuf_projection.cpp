// Filling the proto file model from a graph; the text itself is proto_text.h's. The graph is only
// read, so every loop over its records polls for cancellation.
#include "projection/protobuf_projection.h"

#include <algorithm>
#include <map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/cancellation.h"
#include "common/dropping.h"
#include "common/unicode_case.h"
#include "projection/proto_names.h"
#include "projection/proto_text.h"
#include "projection/well_known_imports.h"
#include "time/reproducible_timestamp.h"

namespace vok::projection {

namespace {

ProtoField make_field(std::string name, ProtoScalar scalar, uint32_t number,
                      std::vector<std::string> comments = {}, bool optional = false) {
    ProtoField field;
    field.name = std::move(name);
    field.comments = std::move(comments);
    field.type = ProtoFieldType::scalar(scalar);
    field.number = number;
    field.optional = optional;
    return field;
}

// One field per attribute, numbered from `first_number` in ascending byte order of the keys
// (the order the object keeps). Keys that convert to the same name still give a field each.
void append_attribute_fields(ProtoMessage& message, const json::Object& attributes,
                             uint32_t first_number) {
    uint32_t number = first_number;
    for (const auto& [key, value] : attributes) {
        poll_cancellation();
        ProtoField field = make_field(to_proto_field_name(key), proto_scalar_for(value), number++);
        field.repeated = value.is_array();
        field.optional = !field.repeated;
        message.fields.push_back(std::move(field));
    }
}

bool kept_by(std::string_view namespace_filter, std::string_view record_namespace) {
    return namespace_filter.empty() || record_namespace == namespace_filter;
}

ProtoMessage entity_message(const Entity& entity) {
    ProtoMessage message = ProtoMessage::make(to_proto_type_name(entity.name));
    message.comments = {"VOK Entity: " + entity.name, "Namespace: " + entity.namespace_};
    message.fields.push_back(make_field("id", ProtoScalar::String, 1, {"Unique identifier"}));
    message.fields.push_back(make_field("name", ProtoScalar::String, 2, {"Entity name"}));
    append_attribute_fields(message, entity.attributes, 3);
    return message;
}

ProtoMessage resource_message(const Resource& resource) {
    ProtoMessage message = ProtoMessage::make(to_proto_type_name(resource.name));
    message.comments = {"VOK Resource: " + resource.name, "Unit: " + resource.unit.symbol};
    message.fields.push_back(make_field("id", ProtoScalar::String, 1, {"Unique identifier"}));
    message.fields.push_back(make_field("name", ProtoScalar::String, 2, {"Resource name"}));
    message.fields.push_back(make_field("quantity", ProtoScalar::Double, 3,
                                        {"Quantity in " + resource.unit.symbol}, true));
    message.fields.push_back(make_field("unit", ProtoScalar::String, 4, {"Unit of measurement"}));
    append_attribute_fields(message, resource.attributes, 5);
    return message;
}

ProtoMessage policy_violation_message() {
    ProtoMessage message = ProtoMessage::make("PolicyViolation");
    message.comments = {"Represents a policy violation event"};
    message.fields = {
        make_field("policy_name", ProtoScalar::String, 1, {"Name of the violated policy"}),
        make_field("entity_id", ProtoScalar::String, 2,
                   {"ID of the entity that violated the policy"}),
        make_field("severity", ProtoScalar::String, 3, {"Severity level (error, warn, info)"}),
        make_field("message", ProtoScalar::String, 4, {"Human-readable violation message"}),
        make_field("timestamp", ProtoScalar::String, 5, {"When the violation occurred"}),
    };
    return message;
}

ProtoMessage metric_event_message() {
    ProtoMessage message = ProtoMessage::make("MetricEvent");
    message.comments = {"Represents a metric measurement event"};
    message.fields = {
        make_field("metric_name", ProtoScalar::String, 1, {"Name of the metric"}),
        make_field("value", ProtoScalar::Double, 2, {"Measured value"}),
        make_field("unit", ProtoScalar::String, 3, {"Unit of measurement"}, true),
        make_field("timestamp", ProtoScalar::String, 4, {"When the measurement was taken"}),
    };
    return message;
}

ProtoMessage response_message(const ProtoRpc& rpc) {
    ProtoMessage message = ProtoMessage::make(rpc.output_type);
    message.comments = {"Response message for " + rpc.name};
    message.fields = {
        make_field("success", ProtoScalar::Bool, 1),
        make_field("message", ProtoScalar::String, 2, {}, true),
    };
    return message;
}

// Sorted through their positions: std::stable_sort of the messages themselves first fills a
// buffer of half of them, moved one into the next, in a step no poll interrupts (tens of megabytes
// of fresh memory for a large graph). The positions sort with polls in the comparisons, and the
// messages then move into place along the cycles of the permutation, polling at each move.
void sort_messages_by_name(std::vector<ProtoMessage>& messages) {
    std::vector<size_t> order;
    order.reserve(messages.size());
    for (size_t i = 0; i < messages.size(); ++i) {
        poll_cancellation();
        order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        poll_cancellation();
        return messages[a].name < messages[b].name;
    });
    // order[j] is the position of the message that belongs at j; a settled place gets order[j] = j.
    for (size_t start = 0; start < order.size(); ++start) {
        if (order[start] == start) continue;
        ProtoMessage first = std::move(messages[start]);
        size_t at = start;
        while (order[at] != start) {
            poll_cancellation();
            const size_t from = order[at];
            messages[at] = std::move(messages[from]);
            order[at] = at;
            at = from;
        }
        messages[at] = std::move(first);
        order[at] = at;
    }
}

// Services keyed by name, so they come out in byte order of their names; each keeps its rpcs in
// flow order.
std::map<std::string, ProtoService> services_of(const Graph& graph,
                                                std::string_view namespace_filter) {
    std::map<std::string, ProtoService> services;
    const HandOffOnUnwind hand_off(services);
    for (const Flow* flow : graph.all_flows()) {
        poll_cancellation();
        if (!kept_by(namespace_filter, flow->namespace_.view())) continue;
        // The ends are used whatever their namespace; a flow whose ends are missing is skipped.
        const Entity* target = graph.get_entity(flow->to_id);
        const Resource* resource = graph.get_resource(flow->resource_id);
        if (target == nullptr || resource == nullptr) continue;

        const std::string resource_type = to_proto_type_name(resource->name);
        std::string service_name = to_proto_type_name(target->name) + "Service";
        auto [slot, added] = services.try_emplace(service_name);
        ProtoService& service = slot->second;
        if (added) {
            service.name = std::move(service_name);
            service.comments = {"gRPC service for " + target->name};
        }
        service.rpcs.push_back(ProtoRpc{.name = "Process" + resource_type,
                                        .input_type = resource_type,
                                        .output_type = resource_type + "Response",
                                        .streaming = streaming_mode_of(*flow)});
    }
    return services;
}

} // namespace

ProtoScalar proto_scalar_for(const json::Value& value) {
    switch (value.type()) {
    case json::Value::Type::Bool:
        return ProtoScalar::Bool;
    case json::Value::Type::Number:
        return value.as_number().is_f64() ? ProtoScalar::Double : ProtoScalar::Int64;
    case json::Value::Type::Null:
    case json::Value::Type::String:
    case json::Value::Type::Array:
    case json::Value::Type::Object:
        return ProtoScalar::String;
    }
    return ProtoScalar::String;
}

StreamingMode streaming_mode_of(const Flow& flow) {
    const json::Value* value = flow.attributes.find("streaming");
    if (value == nullptr || !value->is_string()) return StreamingMode::Unary;
    const std::string mode = lowercase_text(value->as_string());
    if (mode == "streaming" || mode == "server_streaming" || mode == "serverstreaming")
        return StreamingMode::ServerStreaming;
    if (mode == "client_streaming" || mode == "clientstreaming")
        return StreamingMode::ClientStreaming;
    if (mode == "bidirectional" || mode == "bidi" || mode == "duplex")
        return StreamingMode::Bidirectional;
    return StreamingMode::Unary;
}

std::string project_graph_to_proto(const Graph& graph, std::string_view package,
                                   std::string_view namespace_filter,
                                   std::string_view projection_name, bool include_governance,
                                   bool include_services) {
    // A file of many messages takes long to free: stopped part-way, it is freed off this thread,
    // and once written, in steps.
    ProtoFile file;
    const HandOffOnUnwind hand_off(file);
    file.package = std::string(package);
    file.syntax = "proto3";
    file.source_namespace = std::string(namespace_filter);
    file.generated_at = reproducible_timestamp().value_or("");

    // Room for every message the file can get (a response per flow at most), reserved while the
    // array is empty: grown by doubling, it would move all its messages into fresh memory at once.
    file.messages.reserve(graph.entities().size() + graph.resources().size() + 2 +
                          (include_services ? graph.flows().size() : 0));
    for (const Entity* entity : graph.all_entities()) {
        poll_cancellation();
        if (kept_by(namespace_filter, entity->namespace_.view()))
            file.messages.push_back(entity_message(*entity));
    }
    for (const Resource* resource : graph.all_resources()) {
        poll_cancellation();
        if (kept_by(namespace_filter, resource->namespace_.view()))
            file.messages.push_back(resource_message(*resource));
    }
    sort_messages_by_name(file.messages);
    collect_well_known_imports(file);
    file.projection_name = std::string(projection_name);

    if (include_governance) {
        file.messages.push_back(policy_violation_message());
        file.messages.push_back(metric_event_message());
    }

    if (include_services) {
        auto services = services_of(graph, namespace_filter);
        const HandOffOnUnwind hand_off_services(services);
        file.services.reserve(services.size());
        while (!services.empty()) {
            poll_cancellation();
            file.services.push_back(std::move(services.extract(services.begin()).mapped()));
        }
        std::unordered_set<std::string> responses;
        const HandOffOnUnwind hand_off_responses(responses);
        for (const ProtoService& service : file.services) {
            for (const ProtoRpc& rpc : service.rpcs) {
                poll_cancellation();
                if (responses.insert(rpc.output_type).second)
                    file.messages.push_back(response_message(rpc));
            }
        }
        // A name per flow at most, but freeing a hundred thousand of them is a stretch of its own.
        drop_in_steps(responses);
        sort_messages_by_name(file.messages);
        collect_well_known_imports(file);
    }
    std::string text = render_proto_file(file);
    drop_in_steps(file.messages);
    drop_in_steps(file.services);
    return text;
}

} // namespace vok::projection
