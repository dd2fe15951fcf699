// The graph's adders and lookups; see graph.h. Records live in IndexedMaps keyed by id, in
// insertion order; refusals are GraphError values and leave the graph unchanged.
#include "graph/graph.h"

#include <utility>

#include "common/invariant.h"
#include "common/memory_release.h"

namespace vok {

namespace {

template <class V> std::vector<const V*> all_of(const IndexedMap<Uuid, V>& map) {
    std::vector<const V*> records;
    records.reserve(map.size());
    for (const auto& entry : map)
        records.push_back(&entry.second);
    return records;
}

// The names of a store's records by position, for its NameIndex.
template <class V> auto names_of(const IndexedMap<Uuid, V>& map) {
    return
        [&map](size_t position) -> std::string_view { return map.begin()[position].second.name; };
}

// The id of the first record named `name`, after indexing the records added since the last
// lookup (in order, so the first record of a name is the one indexed first).
template <class V>
std::optional<Uuid> lookup_first(const IndexedMap<Uuid, V>& map, NameIndex& index, size_t& indexed,
                                 std::string_view name) {
    if (indexed < map.size()) {
        index.reserve(map.size());
        for (; indexed < map.size(); ++indexed)
            index.insert(map.begin()[indexed].second.name, indexed, names_of(map));
    }
    auto position = index.find(name, names_of(map));
    if (!position) return std::nullopt;
    return map.begin()[*position].first;
}

// Stores a record under its id, or reports the id as taken.
template <class V>
Result<void, GraphError> add_named(IndexedMap<Uuid, V>& map, RecordKind kind, V&& record) {
    const Uuid id = record.id;
    if (!map.insert(id, std::move(record))) return Err(GraphError::DuplicateId{kind, id});
    return Ok();
}

template <class V>
Result<void, GraphError> add_by_id(IndexedMap<Uuid, V>& map, RecordKind kind, V&& record) {
    const Uuid id = record.id;
    if (!map.insert(id, std::move(record))) return Err(GraphError::DuplicateId{kind, id});
    return Ok();
}

template <class V> void insert_checked(IndexedMap<Uuid, V>& map, V&& record, const char* what) {
    const Uuid id = record.id;
    bool inserted = map.insert(id, std::move(record));
    VOK_INVARIANT(inserted, std::string(what) + " inserted twice under one id");
}

} // namespace

namespace {

// Below this much freed memory, returning pages is not worth a walk over malloc's free lists.
constexpr size_t kReleaseBytes = size_t{64} << 20;
// Rough sizes: a record with its share of strings and maps, an expression node with its block.
constexpr size_t kBytesPerRecord = 128;
constexpr size_t kBytesPerNode = sizeof(Expression) + 16;

} // namespace

Graph::~Graph() {
    release_.records = entities_.size() + roles_.size() + resources_.size() + flows_.size() +
                       relations_.size() + instances_.size() + entity_instances_.size() +
                       policies_.size() + patterns_.size() + concept_changes_.size() +
                       metrics_.size() + mappings_.size() + projections_.size();
    release_.nodes_before = expression_nodes_destroyed();
}

Graph::MemoryRelease::~MemoryRelease() {
    const size_t nodes = expression_nodes_destroyed() - nodes_before;
    if (records * kBytesPerRecord + nodes * kBytesPerNode < kReleaseBytes) return;
    release_free_memory();
}

Result<void, GraphError> Graph::add_entity(Entity entity) {
    return add_named(entities_, RecordKind::Entity, std::move(entity));
}

Result<void, GraphError> Graph::add_role(Role role) {
    return add_named(roles_, RecordKind::Role, std::move(role));
}

Result<void, GraphError> Graph::add_resource(Resource resource) {
    return add_named(resources_, RecordKind::Resource, std::move(resource));
}

Result<void, GraphError> Graph::add_flow(Flow flow) {
    if (flows_.contains(flow.id)) return Err(GraphError::DuplicateId{RecordKind::Flow, flow.id});
    if (!entities_.contains(flow.from_id)) return Err(GraphError::SourceEntityNotFound{});
    if (!entities_.contains(flow.to_id)) return Err(GraphError::TargetEntityNotFound{});
    if (!resources_.contains(flow.resource_id)) return Err(GraphError::ResourceNotFound{});
    const Uuid id = flow.id;
    flow_quantities_f64_.push_back(flow.quantity.to_f64());
    flows_.insert(id, std::move(flow));
    return Ok();
}

Result<void, GraphError> Graph::add_relation(Relation relation) {
    return add_by_id(relations_, RecordKind::Relation, std::move(relation));
}

Result<void, GraphError> Graph::add_instance(ResourceInstance instance) {
    if (instances_.contains(instance.id)) {
        return Err(GraphError::DuplicateId{RecordKind::Instance, instance.id});
    }
    if (!entities_.contains(instance.entity_id)) return Err(GraphError::EntityNotFound{});
    if (!resources_.contains(instance.resource_id)) return Err(GraphError::ResourceNotFound{});
    const Uuid id = instance.id;
    instances_.insert(id, std::move(instance));
    return Ok();
}

Result<void, GraphError> Graph::add_policy(Policy policy) {
    return add_by_id(policies_, RecordKind::Policy, std::move(policy));
}

Result<void, GraphError> Graph::add_pattern(Pattern pattern) {
    if (patterns_.contains(pattern.id)) {
        return Err(GraphError::DuplicateId{RecordKind::Pattern, pattern.id});
    }
    // Ids are name-based, so this only catches records whose name or namespace was edited after
    // they were made; an index keeps the check constant-time for files with many patterns.
    std::string key = pattern.namespace_;
    key += '\0';
    key += pattern.name;
    if (pattern_names_.contains(key)) {
        return Err(GraphError::PatternAlreadyDeclared{pattern.name, pattern.namespace_});
    }
    pattern_names_.insert(std::move(key));
    const Uuid id = pattern.id;
    patterns_.insert(id, std::move(pattern));
    return Ok();
}

Result<void, GraphError> Graph::add_association(const Uuid& owner_id, const Uuid& owned_id,
                                                std::string_view rel_type) {
    Entity* owner = entities_.find(owner_id);
    if (owner == nullptr) return Err(GraphError::SourceEntityNotFound{});
    if (!entities_.contains(owned_id)) return Err(GraphError::DestinationEntityNotFound{});

    json::Object association;
    association.insert_or_assign("target", owned_id.to_string());
    association.insert_or_assign("type", std::string(rel_type));

    json::Value* existing = owner->attributes.find("associations");
    if (existing != nullptr && existing->is_array()) {
        existing->as_array().push_back(std::move(association));
    } else {
        owner->set_attribute("associations", json::Array{std::move(association)});
    }
    return Ok();
}

void Graph::insert_entity_instance(Instance instance) {
    insert_checked(entity_instances_, std::move(instance), "entity instance");
}

void Graph::insert_concept_change(ConceptChange change) {
    insert_checked(concept_changes_, std::move(change), "concept change");
}

void Graph::reserve(const Counts& counts) {
    entities_.reserve(entities_.size() + counts.entities);
    roles_.reserve(roles_.size() + counts.roles);
    resources_.reserve(resources_.size() + counts.resources);
    flows_.reserve(flows_.size() + counts.flows);
    flow_quantities_f64_.reserve(flow_quantities_f64_.size() + counts.flows);
    relations_.reserve(relations_.size() + counts.relations);
    entity_instances_.reserve(entity_instances_.size() + counts.entity_instances);
    policies_.reserve(policies_.size() + counts.policies);
    patterns_.reserve(patterns_.size() + counts.patterns);
    pattern_names_.reserve(pattern_names_.size() + counts.patterns);
    concept_changes_.reserve(concept_changes_.size() + counts.concept_changes);
    metrics_.reserve(metrics_.size() + counts.metrics);
    mappings_.reserve(mappings_.size() + counts.mappings);
    projections_.reserve(projections_.size() + counts.projections);
}

void Graph::insert_metric(Metric metric) {
    insert_checked(metrics_, std::move(metric), "metric");
}

void Graph::insert_mapping(Mapping mapping) {
    insert_checked(mappings_, std::move(mapping), "mapping");
}

void Graph::insert_projection(Projection projection) {
    insert_checked(projections_, std::move(projection), "projection");
}

std::vector<const Entity*> Graph::all_entities() const {
    return all_of(entities_);
}
std::vector<const Resource*> Graph::all_resources() const {
    return all_of(resources_);
}
std::vector<const Flow*> Graph::all_flows() const {
    return all_of(flows_);
}
std::vector<const ResourceInstance*> Graph::all_instances() const {
    return all_of(instances_);
}
std::vector<const Relation*> Graph::all_relations() const {
    return all_of(relations_);
}

std::optional<Uuid> Graph::find_entity_by_name(std::string_view name) const {
    return lookup_first(entities_, entity_names_.index, entity_names_.indexed, name);
}

std::optional<Uuid> Graph::find_role_by_name(std::string_view name) const {
    return lookup_first(roles_, role_names_.index, role_names_.indexed, name);
}

std::optional<Uuid> Graph::find_resource_by_name(std::string_view name) const {
    return lookup_first(resources_, resource_names_.index, resource_names_.indexed, name);
}

const Pattern* Graph::find_pattern(std::string_view name, std::string_view namespace_name) const {
    const Pattern* same_name_elsewhere = nullptr;
    for (const auto& [id, pattern] : patterns_) {
        if (pattern.name != name) continue;
        if (pattern.namespace_ == namespace_name) return &pattern;
        if (same_name_elsewhere == nullptr) same_name_elsewhere = &pattern;
    }
    return same_name_elsewhere;
}

std::vector<const Flow*> Graph::flows_from(const Uuid& entity_id) const {
    std::vector<const Flow*> found;
    for (const auto& [id, flow] : flows_) {
        if (flow.from_id == entity_id) found.push_back(&flow);
    }
    return found;
}

std::vector<const Flow*> Graph::flows_to(const Uuid& entity_id) const {
    std::vector<const Flow*> found;
    for (const auto& [id, flow] : flows_) {
        if (flow.to_id == entity_id) found.push_back(&flow);
    }
    return found;
}

std::vector<std::string> Graph::role_names_of_entity(const Uuid& entity_id) const {
    std::vector<std::string> names;
    const std::vector<Uuid>* role_ids = entity_roles_.find(entity_id);
    if (role_ids == nullptr) return names;
    for (const Uuid& role_id : *role_ids) {
        if (const Role* role = roles_.find(role_id)) names.push_back(role->name);
    }
    return names;
}

} // namespace vok
