// The items quantifiers and aggregations range over, and the collections that hold them; the
// definitions behind quantifier_items.h.
#include "policy/quantifier_items.h"

#include <cmath>
#include <utility>

#include "common/cancellation.h"
#include "units/unit.h"

namespace vok {

namespace {

json::Value id_value(const Uuid& id) {
    return json::Value(id.to_string());
}

json::Value float_value(const Decimal& d) {
    double f = d.to_f64();
    if (!std::isfinite(f)) return json::Value();
    return json::Value::from_f64(f);
}

std::optional<json::Value> attribute(const json::Object& attributes, std::string_view key) {
    if (const json::Value* v = attributes.find(key)) return *v;
    return std::nullopt;
}

std::optional<json::Value> role_name(const Graph& graph, const Uuid& id) {
    if (const Role* role = graph.roles().find(id)) return json::Value(role->name);
    return std::nullopt;
}

json::Value role_names_value(const Graph& graph, const Entity& entity) {
    json::Array names;
    for (std::string& name : graph.role_names_of_entity(entity.id))
        names.emplace_back(std::move(name));
    return json::Value(std::move(names));
}

// One key of a record's item object, read without building the object. The fixed keys of each
// collection are answered first, so an attribute never overrides them.
std::optional<json::Value> record_field(const Graph& graph, CollectionKind kind, const void* record,
                                        std::string_view key) {
    switch (kind) {
    case CollectionKind::Flows: {
        const auto& flow = *static_cast<const Flow*>(record);
        if (key == "id") return id_value(flow.id);
        if (key == "from_entity") return id_value(flow.from_id);
        if (key == "to_entity") return id_value(flow.to_id);
        if (key == "resource") return id_value(flow.resource_id);
        if (key == "quantity") return float_value(flow.quantity);
        return attribute(flow.attributes, key);
    }
    case CollectionKind::Entities: {
        const auto& entity = *static_cast<const Entity*>(record);
        if (key == "id") return id_value(entity.id);
        if (key == "name") return json::Value(entity.name);
        if (key == "namespace") return json::Value(entity.namespace_);
        if (key == "roles") {
            json::Value names = role_names_value(graph, entity);
            if (!names.as_array().empty()) return names;
        }
        return attribute(entity.attributes, key);
    }
    case CollectionKind::Resources: {
        const auto& resource = *static_cast<const Resource*>(record);
        if (key == "id") return id_value(resource.id);
        if (key == "name") return json::Value(resource.name);
        if (key == "namespace") return json::Value(resource.namespace_);
        if (key == "unit") return unit_to_value(resource.unit);
        return attribute(resource.attributes, key);
    }
    case CollectionKind::Instances: {
        const auto& instance = *static_cast<const ResourceInstance*>(record);
        if (key == "id") return id_value(instance.id);
        if (key == "entity") return id_value(instance.entity_id);
        if (key == "resource") return id_value(instance.resource_id);
        return attribute(instance.attributes, key);
    }
    case CollectionKind::Relations: {
        const auto& relation = *static_cast<const Relation*>(record);
        if (key == "id") return id_value(relation.id);
        if (key == "name") return json::Value(relation.name);
        if (key == "predicate") return json::Value(relation.predicate);
        if (key == "subject_role") return role_name(graph, relation.subject_role_id);
        if (key == "object_role") return role_name(graph, relation.object_role_id);
        if (key == "via" && relation.via_flow_id) return id_value(*relation.via_flow_id);
        return std::nullopt;
    }
    }
    return std::nullopt;
}

// Fixed entries first, then the attributes whose keys are still free.
json::Value object_of(std::vector<json::Object::Entry> fixed, const json::Object* attributes) {
    json::Object object = json::Object::from_entries(std::move(fixed));
    if (attributes != nullptr) {
        for (const auto& [key, value] : *attributes)
            if (!object.contains(key)) object.insert_or_assign(key, value);
    }
    return json::Value(std::move(object));
}

json::Value record_item(const Graph& graph, CollectionKind kind, const void* record) {
    switch (kind) {
    case CollectionKind::Flows:
        return flow_as_quantifier_item(*static_cast<const Flow*>(record));
    case CollectionKind::Entities: {
        const auto& entity = *static_cast<const Entity*>(record);
        std::vector<json::Object::Entry> fixed = {{"id", id_value(entity.id)},
                                                  {"name", json::Value(entity.name)},
                                                  {"namespace", json::Value(entity.namespace_)}};
        json::Value roles = role_names_value(graph, entity);
        if (!roles.as_array().empty()) fixed.emplace_back("roles", std::move(roles));
        return object_of(std::move(fixed), &entity.attributes);
    }
    case CollectionKind::Resources: {
        const auto& resource = *static_cast<const Resource*>(record);
        return object_of({{"id", id_value(resource.id)},
                          {"name", json::Value(resource.name)},
                          {"namespace", json::Value(resource.namespace_)},
                          {"unit", unit_to_value(resource.unit)}},
                         &resource.attributes);
    }
    case CollectionKind::Instances: {
        const auto& instance = *static_cast<const ResourceInstance*>(record);
        return object_of({{"id", id_value(instance.id)},
                          {"entity", id_value(instance.entity_id)},
                          {"resource", id_value(instance.resource_id)}},
                         &instance.attributes);
    }
    case CollectionKind::Relations: {
        const auto& relation = *static_cast<const Relation*>(record);
        std::vector<json::Object::Entry> fixed = {{"id", id_value(relation.id)},
                                                  {"name", json::Value(relation.name)},
                                                  {"predicate", json::Value(relation.predicate)}};
        if (auto subject = role_name(graph, relation.subject_role_id))
            fixed.emplace_back("subject_role", std::move(*subject));
        if (auto object = role_name(graph, relation.object_role_id))
            fixed.emplace_back("object_role", std::move(*object));
        if (relation.via_flow_id) fixed.emplace_back("via", id_value(*relation.via_flow_id));
        return object_of(std::move(fixed), nullptr);
    }
    }
    return json::Value();
}

template <class R, class F>
Result<void, PolicyError> visit_records(const IndexedMap<Uuid, R>& records, CollectionKind kind,
                                        F& visit) {
    for (const auto& entry : records) {
        poll_cancellation();
        VOK_TRY(visit(ItemRef::of_record(kind, &entry.second)));
    }
    return Ok();
}

} // namespace

std::optional<CollectionKind> collection_named(std::string_view name) {
#define VOK_COLLECTION_KIND(Name, collection_name, item_word)                                      \
    if (name == collection_name) return CollectionKind::Name;
#include "policy/policy_enums.def"
    return std::nullopt;
}

std::string_view item_word(CollectionKind kind) {
    switch (kind) {
#define VOK_COLLECTION_KIND(Name, collection_name, word)                                           \
    case CollectionKind::Name:                                                                     \
        return word;
#include "policy/policy_enums.def"
    }
    return "item";
}

json::Value ItemRef::materialize(const Graph& graph) const {
    if (value_ != nullptr) return *value_;
    return record_item(graph, kind_, record_);
}

std::optional<json::Value> ItemRef::field(const Graph& graph, std::string_view key) const {
    if (value_ != nullptr) {
        if (const json::Value* v = value_->get(key)) return *v;
        return std::nullopt;
    }
    return record_field(graph, kind_, record_, key);
}

const Uuid* ItemRef::id_field(std::string_view key) const {
    if (record_ == nullptr) return nullptr;
    switch (kind_) {
    case CollectionKind::Flows: {
        const auto& flow = *static_cast<const Flow*>(record_);
        if (key == "id") return &flow.id;
        if (key == "from_entity") return &flow.from_id;
        if (key == "to_entity") return &flow.to_id;
        if (key == "resource") return &flow.resource_id;
        return nullptr;
    }
    case CollectionKind::Entities:
        return key == "id" ? &static_cast<const Entity*>(record_)->id : nullptr;
    case CollectionKind::Resources:
        return key == "id" ? &static_cast<const Resource*>(record_)->id : nullptr;
    case CollectionKind::Instances: {
        const auto& instance = *static_cast<const ResourceInstance*>(record_);
        if (key == "id") return &instance.id;
        if (key == "entity") return &instance.entity_id;
        if (key == "resource") return &instance.resource_id;
        return nullptr;
    }
    case CollectionKind::Relations:
        return key == "id" ? &static_cast<const Relation*>(record_)->id : nullptr;
    }
    return nullptr;
}

json::Value flow_as_quantifier_item(const Flow& flow) {
    return object_of({{"id", id_value(flow.id)},
                      {"from_entity", id_value(flow.from_id)},
                      {"to_entity", id_value(flow.to_id)},
                      {"resource", id_value(flow.resource_id)},
                      {"quantity", float_value(flow.quantity)}},
                     &flow.attributes);
}

std::optional<double> value_as_f64(const json::Value& value) {
    if (!value.is_number()) return std::nullopt;
    return value.as_number().to_f64();
}

Result<CollectionSource, PolicyError> collection_source(const Expression& collection) {
    if (const auto* literal = collection.get_if<expr::Literal>()) {
        if (literal->value.is_array())
            return CollectionSource{std::nullopt, &literal->value.as_array()};
    } else if (const auto* variable = collection.get_if<expr::Variable>()) {
        if (auto kind = collection_named(variable->name)) return CollectionSource{kind, nullptr};
        return Err(PolicyError("Unknown collection: " + variable->name));
    }
    return Err(PolicyError("Collection expression must be a variable or array literal"));
}

Result<void, PolicyError>
for_each_item(const CollectionSource& source, const Graph& graph,
              FunctionRef<Result<void, PolicyError>(const ItemRef&)> visit) {
    if (!source.kind) {
        for (const json::Value& element : *source.array) {
            poll_cancellation();
            VOK_TRY(visit(ItemRef::of_value(element)));
        }
        return Ok();
    }
    switch (*source.kind) {
    case CollectionKind::Flows:
        return visit_records(graph.flows(), *source.kind, visit);
    case CollectionKind::Entities:
        return visit_records(graph.entities(), *source.kind, visit);
    case CollectionKind::Resources:
        return visit_records(graph.resources(), *source.kind, visit);
    case CollectionKind::Instances:
        return visit_records(graph.instances(), *source.kind, visit);
    case CollectionKind::Relations:
        return visit_records(graph.relations(), *source.kind, visit);
    }
    return Ok();
}

Result<std::vector<json::Value>, PolicyError> resolve_collection(const Expression& collection,
                                                                 const Graph& graph) {
    VOK_ASSIGN(CollectionSource source, collection_source(collection));
    std::vector<json::Value> items;
    VOK_TRY(for_each_item(source, graph, [&](const ItemRef& item) -> Result<void, PolicyError> {
        items.push_back(item.materialize(graph));
        return Ok();
    }));
    return items;
}

} // namespace vok
