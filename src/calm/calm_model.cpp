// Reading and writing the CALM records; relies on the JSON record reader (read_struct, its common
// field rows, and the value deserializer, which replays a buffered value for the untagged unions).
#include "calm/calm_model.h"

#include <utility>

#include "common/cancellation.h"
#include "common/dropping.h"
#include "json/record_reader.h"
#include "json/value_deserializer.h"

namespace vok::calm {

namespace {

using json::Deserializer;
using json::Field;
using json::Status;
using json::string_field;

Result<CalmMetadata, json::Error> read_metadata(Deserializer& de) {
    CalmMetadata metadata;
    Field fields[] = {
        json::bool_field("vok:exported", metadata.exported),
        string_field("vok:version", metadata.version),
        json::optional_string_field("vok:timestamp", metadata.timestamp),
    };
    VOK_TRY(json::read_struct(de, "struct CalmMetadata", fields));
    return metadata;
}

Result<CalmNode, json::Error> read_node(Deserializer& de) {
    CalmNode node;
    Field fields[] = {
        string_field("unique-id", node.unique_id),
        json::enum_field("node-type", node.node_type, kCalmNodeTypeNames),
        string_field("name", node.name),
        json::optional_string_field("namespace", node.namespace_),
        {"metadata", true,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(json::Value value, d.read_any());
             if (!value.is_object()) {
                 return Err(d.positioned(json::invalid_type(json::Unexpected::of(value), "a map")));
             }
             node.metadata = std::move(value.as_object());
             return Ok();
         }},
    };
    VOK_TRY(json::read_struct(de, "struct CalmNode", fields));
    return node;
}

// The `Flow` form: {"flow": {"resource": ..., "quantity": ...}}, or the array form of either.
Result<FlowDetails, json::Error> read_flow_form(Deserializer& de) {
    FlowDetails details;
    Field detail_fields[] = {
        string_field("resource", details.resource),
        string_field("quantity", details.quantity),
    };
    Field fields[] = {
        {"flow", false,
         [&](Deserializer& d) -> Status {
             return json::read_struct(d, "struct FlowDetails", detail_fields);
         }},
    };
    VOK_TRY(json::read_struct(de, "struct variant RelationshipType::Flow", fields));
    return details;
}

Result<RelationshipType, json::Error> read_relationship_type(Deserializer& de) {
    VOK_ASSIGN(json::Value value, de.read_any());
    {
        json::ValueDeserializer replay(value);
        auto flow = read_flow_form(replay);
        if (flow.ok()) return RelationshipType(std::move(flow).value());
    }
    if (value.is_string()) return RelationshipType(std::move(value.as_string()));
    return Err(de.positioned(
        json::custom_error("data did not match any variant of untagged enum RelationshipType")));
}

Result<Parties, json::Error> read_parties(Deserializer& de) {
    VOK_ASSIGN(json::Value value, de.read_any());
    {
        SourceDestination parties;
        Field fields[] = {
            string_field("source", parties.source),
            string_field("destination", parties.destination),
        };
        json::ValueDeserializer replay(value);
        if (json::read_struct(replay, "struct SourceDestination", fields).ok()) {
            return Parties(std::move(parties));
        }
    }
    {
        OwnerOwned parties;
        Field fields[] = {
            string_field("owner", parties.owner),
            string_field("owned", parties.owned),
        };
        json::ValueDeserializer replay(value);
        if (json::read_struct(replay, "struct OwnerOwned", fields).ok()) {
            return Parties(std::move(parties));
        }
    }
    return Err(de.positioned(
        json::custom_error("data did not match any variant of untagged enum Parties")));
}

Result<CalmRelationship, json::Error> read_relationship(Deserializer& de) {
    std::string unique_id;
    std::optional<RelationshipType> type;
    std::optional<Parties> parties;
    Field fields[] = {
        string_field("unique-id", unique_id),
        {"relationship-type", false,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(RelationshipType read, read_relationship_type(d));
             type = std::move(read);
             return Ok();
         }},
        {"parties", false,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(Parties read, read_parties(d));
             parties = std::move(read);
             return Ok();
         }},
    };
    VOK_TRY(json::read_struct(de, "struct CalmRelationship", fields));
    return CalmRelationship{std::move(unique_id), std::move(*type), std::move(*parties)};
}

json::Value node_to_json(CalmNode& node) {
    json::Object object;
    object.insert_or_assign("unique-id", std::move(node.unique_id));
    object.insert_or_assign("node-type", name_of(node.node_type));
    object.insert_or_assign("name", std::move(node.name));
    if (node.namespace_) object.insert_or_assign("namespace", std::move(*node.namespace_));
    object.insert_or_assign("metadata", std::move(node.metadata));
    return object;
}

json::Value relationship_to_json(CalmRelationship& relationship) {
    json::Object object;
    object.insert_or_assign("unique-id", std::move(relationship.unique_id));
    if (auto* details = std::get_if<FlowDetails>(&relationship.relationship_type)) {
        json::Object flow;
        flow.insert_or_assign("resource", std::move(details->resource));
        flow.insert_or_assign("quantity", std::move(details->quantity));
        json::Object type;
        type.insert_or_assign("flow", std::move(flow));
        object.insert_or_assign("relationship-type", std::move(type));
    } else {
        object.insert_or_assign("relationship-type",
                                std::move(std::get<std::string>(relationship.relationship_type)));
    }
    json::Object parties;
    if (auto* sd = std::get_if<SourceDestination>(&relationship.parties)) {
        parties.insert_or_assign("source", std::move(sd->source));
        parties.insert_or_assign("destination", std::move(sd->destination));
    } else {
        auto& oo = std::get<OwnerOwned>(relationship.parties);
        parties.insert_or_assign("owner", std::move(oo.owner));
        parties.insert_or_assign("owned", std::move(oo.owned));
    }
    object.insert_or_assign("parties", std::move(parties));
    return object;
}

} // namespace

Result<CalmModel, json::Error> read_calm_model(Deserializer& de) {
    CalmModel model;
    Field fields[] = {
        {"version", true,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(model.version, json::read_string(d));
             return Ok();
         }},
        json::record_field("metadata", model.metadata, &read_metadata),
        json::list_field("nodes", model.nodes, &read_node),
        json::list_field("relationships", model.relationships, &read_relationship),
    };
    VOK_TRY(json::read_struct(de, "struct CalmModel", fields));
    return model;
}

json::Value to_json(CalmModel model) {
    // Stopped part-way, the model and the arrays built so far are freed off this thread.
    const HandOffOnUnwind hand_off_model(model);
    json::Object metadata;
    metadata.insert_or_assign("vok:exported", model.metadata.exported);
    metadata.insert_or_assign("vok:version", model.metadata.version);
    if (model.metadata.timestamp) {
        metadata.insert_or_assign("vok:timestamp", *model.metadata.timestamp);
    }
    json::Array nodes;
    const HandOffOnUnwind hand_off_nodes(nodes);
    nodes.reserve(model.nodes.size());
    for (CalmNode& node : model.nodes) {
        poll_cancellation();
        nodes.push_back(node_to_json(node));
    }
    json::Array relationships;
    const HandOffOnUnwind hand_off_relationships(relationships);
    relationships.reserve(model.relationships.size());
    for (CalmRelationship& relationship : model.relationships) {
        poll_cancellation();
        relationships.push_back(relationship_to_json(relationship));
    }

    json::Object root;
    root.insert_or_assign("version", model.version);
    root.insert_or_assign("metadata", std::move(metadata));
    root.insert_or_assign("nodes", std::move(nodes));
    root.insert_or_assign("relationships", std::move(relationships));
    return root;
}

} // namespace vok::calm
