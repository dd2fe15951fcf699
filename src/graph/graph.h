// Graph: the store of one model, every record keyed by its id and kept in insertion order.
//
// A graph is filled by the adders below (lowering, CALM import, Python code) and, for the
// collections only lowering fills (entity instances, concept changes, metrics, mappings,
// projections), by direct inserts after the caller's own duplicate checks. Adders check their
// record in a fixed order and either store it or leave the graph untouched. Nothing removes or
// replaces a record; the one change to a stored record is an association added to an entity.
//
// The graph owns its records. Lookups return pointers and lists of pointers into it, valid until
// the graph is next changed. Collections are read through const accessors only, because the graph
// keeps name indexes beside them: the first entity, role and resource of each name (NameIndex,
// positions into the stores), so that name lookups cost a hash lookup rather than a scan. Since
// records are never removed or renamed inside the graph, "first added" never changes.
//
// A graph belongs to one caller at a time; it takes no locks.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/indexed_map.h"
#include "common/result.h"
#include "expression/policy.h"
#include "graph/graph_error.h"
#include "graph/name_index.h"
#include "primitives/concept_change.h"
#include "primitives/entity.h"
#include "primitives/flow.h"
#include "primitives/instance.h"
#include "primitives/mapping.h"
#include "primitives/metric.h"
#include "primitives/pattern.h"
#include "primitives/projection.h"
#include "primitives/relation.h"
#include "primitives/resource.h"
#include "primitives/resource_instance.h"
#include "primitives/role.h"
#include "uuid/uuid.h"

namespace vok {

class Graph {
public:
    // Empty, in three-valued mode.
    Graph() = default;
    Graph(Graph&&) noexcept = default;
    Graph& operator=(Graph&&) noexcept = default;
    Graph(const Graph&) = default;
    Graph& operator=(const Graph&) = default;
    // A large graph hands the memory it frees back to the system (see MemoryRelease).
    ~Graph();

    // --- Adders: each refuses the first check that fails, graph unchanged. ---

    // Refuses an id already present.
    Result<void, GraphError> add_entity(Entity entity);
    Result<void, GraphError> add_role(Role role);
    Result<void, GraphError> add_resource(Resource resource);
    // Checks, in order: id present, source entity missing, target entity missing, resource
    // missing.
    Result<void, GraphError> add_flow(Flow flow);
    // Refuses an id already present; role and flow ids are not checked.
    Result<void, GraphError> add_relation(Relation relation);
    // A resource instance. Checks, in order: id present, entity missing, resource missing.
    Result<void, GraphError> add_instance(ResourceInstance instance);
    Result<void, GraphError> add_policy(Policy policy);
    // Checks, in order: id present, a pattern of the same name in the same namespace.
    Result<void, GraphError> add_pattern(Pattern pattern);
    // Appends {"target": owned id, "type": rel_type} to the owner's "associations" attribute
    // (an absent or non-array value is replaced by a new array). Checks, in order: owner is not
    // an entity, owned is not an entity. Only the owner changes.
    Result<void, GraphError> add_association(const Uuid& owner_id, const Uuid& owned_id,
                                             std::string_view rel_type);

    // --- Direct inserts, for records whose duplicate checks the caller makes. ---
    // Inserting an id that is already present is a broken invariant.

    void insert_entity_instance(Instance instance);
    void insert_concept_change(ConceptChange change);
    void insert_metric(Metric metric);
    void insert_mapping(Mapping mapping);
    void insert_projection(Projection projection);

    // How many records of each kind are about to be added.
    struct Counts {
        size_t entities = 0, roles = 0, resources = 0, flows = 0, relations = 0,
               entity_instances = 0, policies = 0, patterns = 0, concept_changes = 0, metrics = 0,
               mappings = 0, projections = 0;
    };
    // Makes room for that many more records, so that adding them neither regrows the stores
    // (which would move every record and leave up to half of each store unused) nor rehashes.
    void reserve(const Counts& counts);

    // Starts loading the index slot that adding an entity (role, resource) with this id will
    // touch, so that a caller adding many records can overlap their cache misses. A hint: nothing
    // changes.
    void prefetch_entity(const Uuid& id) const { entities_.prefetch(id); }
    void prefetch_role(const Uuid& id) const { roles_.prefetch(id); }
    void prefetch_resource(const Uuid& id) const { resources_.prefetch(id); }

    // --- Lookups; a missing record gives nullptr, nothing or an empty list. ---

    const Entity* get_entity(const Uuid& id) const { return entities_.find(id); }
    const Resource* get_resource(const Uuid& id) const { return resources_.find(id); }

    std::vector<const Entity*> all_entities() const;
    std::vector<const Resource*> all_resources() const;
    std::vector<const Flow*> all_flows() const;
    std::vector<const ResourceInstance*> all_instances() const;
    std::vector<const Relation*> all_relations() const;

    // The id of the first record added with exactly this name, in any namespace.
    std::optional<Uuid> find_entity_by_name(std::string_view name) const;
    std::optional<Uuid> find_role_by_name(std::string_view name) const;
    std::optional<Uuid> find_resource_by_name(std::string_view name) const;

    // The first pattern with this name in this namespace; failing that, the first with this
    // name in any namespace.
    const Pattern* find_pattern(std::string_view name, std::string_view namespace_name) const;

    // Flows whose source (flows_from) or target (flows_to) is the entity, in insertion order.
    std::vector<const Flow*> flows_from(const Uuid& entity_id) const;
    std::vector<const Flow*> flows_to(const Uuid& entity_id) const;

    // Names of the roles that `entity_roles` lists for the entity, skipping ids that name no role.
    std::vector<std::string> role_names_of_entity(const Uuid& entity_id) const;

    // --- The collections, in insertion order. ---

    const IndexedMap<Uuid, Entity>& entities() const { return entities_; }
    const IndexedMap<Uuid, Role>& roles() const { return roles_; }
    const IndexedMap<Uuid, Resource>& resources() const { return resources_; }
    const IndexedMap<Uuid, Flow>& flows() const { return flows_; }
    const IndexedMap<Uuid, Relation>& relations() const { return relations_; }
    const IndexedMap<Uuid, ResourceInstance>& instances() const { return instances_; }
    const IndexedMap<Uuid, Instance>& entity_instances() const { return entity_instances_; }
    const IndexedMap<Uuid, Policy>& policies() const { return policies_; }
    const IndexedMap<Uuid, Pattern>& patterns() const { return patterns_; }
    const IndexedMap<Uuid, ConceptChange>& concept_changes() const { return concept_changes_; }
    const IndexedMap<Uuid, Metric>& metrics() const { return metrics_; }
    const IndexedMap<Uuid, Mapping>& mappings() const { return mappings_; }
    const IndexedMap<Uuid, Projection>& projections() const { return projections_; }
    // Each flow's quantity as a double (Decimal::to_f64), in flow order: policy conditions over
    // quantities scan these 8 bytes per flow instead of whole records.
    const std::vector<double>& flow_quantities_f64() const { return flow_quantities_f64_; }
    // Never filled by anything; the has-role query reads it and so finds no roles.
    const IndexedMap<Uuid, std::vector<Uuid>>& entity_roles() const { return entity_roles_; }

    // The evaluation mode the policy engine uses: three-valued (true) or strict boolean.
    bool use_three_valued_logic() const { return use_three_valued_logic_; }
    void set_use_three_valued_logic(bool value) { use_three_valued_logic_ = value; }

private:
    // Declared first, so destroyed last: once every record is gone, a graph that held a lot of
    // memory asks malloc to return its free pages to the system. Otherwise the small blocks of a
    // large model (expression nodes above all) stay resident after the graph is dropped, and a
    // later parse whose large requests cannot reuse them raises the process's footprint.
    struct MemoryRelease {
        size_t records = 0;
        size_t nodes_before = 0;
        MemoryRelease() = default;
        MemoryRelease(const MemoryRelease&) noexcept {}
        MemoryRelease& operator=(const MemoryRelease&) noexcept { return *this; }
        ~MemoryRelease();
    };
    MemoryRelease release_;

    IndexedMap<Uuid, Entity> entities_;
    IndexedMap<Uuid, Role> roles_;
    IndexedMap<Uuid, Resource> resources_;
    IndexedMap<Uuid, Flow> flows_;
    IndexedMap<Uuid, Relation> relations_;
    IndexedMap<Uuid, ResourceInstance> instances_;
    IndexedMap<Uuid, Instance> entity_instances_;
    IndexedMap<Uuid, Policy> policies_;
    IndexedMap<Uuid, Pattern> patterns_;
    IndexedMap<Uuid, ConceptChange> concept_changes_;
    IndexedMap<Uuid, Metric> metrics_;
    IndexedMap<Uuid, Mapping> mappings_;
    IndexedMap<Uuid, Projection> projections_;
    IndexedMap<Uuid, std::vector<Uuid>> entity_roles_;
    std::vector<double> flow_quantities_f64_;
    bool use_three_valued_logic_ = true;

    // The first entity, role and resource of each name. Built on the first lookup by name and
    // brought up to date by each later one (records are only ever appended), so a graph that is
    // never asked by name (most graphs of a large file) never pays for it. Lookups are const, and
    // a graph belongs to one caller at a time, so filling the index there is safe.
    struct LazyNameIndex {
        NameIndex index;
        size_t indexed = 0; // records of the store already in `index`
    };
    mutable LazyNameIndex entity_names_;
    mutable LazyNameIndex role_names_;
    mutable LazyNameIndex resource_names_;
    // Names of the stored patterns, as "namespace" + NUL + "name".
    std::unordered_set<std::string> pattern_names_;
};

} // namespace vok
