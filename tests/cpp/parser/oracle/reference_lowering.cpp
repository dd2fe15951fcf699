// The reference lowering; see reference_lowering.h. One file on purpose: the name table, the unit
// pass and the passes over the declarations as they were written before the lowering was tuned.
#include "reference_lowering.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include "common/invariant.h"
#include "concept_id/concept_id.h"
#include "parser/profile.h"
#include "semantic_version/semantic_version.h"
#include "units/unit_registry.h"

namespace vok::reference {

namespace {

class NameTable {
public:
    bool contains(std::string_view namespace_name, std::string_view name) const;
    // The id recorded for exactly this namespace and name.
    std::optional<Uuid> find(std::string_view namespace_name, std::string_view name) const;
    // Room for `count` entries, so that filling the table never rehashes.
    void reserve(size_t count);
    // Records a pair that is not yet present; the lowering refuses duplicates before it gets here.
    void insert(std::string_view namespace_name, std::string_view name, const Uuid& id);

    // Every (namespace, id) recorded under this name, in insertion order.
    const std::vector<std::pair<std::string, Uuid>>* find_by_name(std::string_view name) const;

private:
    struct QualifiedName {
        std::string namespace_name;
        std::string name;
    };
    struct QualifiedView {
        std::string_view namespace_name;
        std::string_view name;
    };
    struct QualifiedHash {
        using is_transparent = void;
        size_t operator()(const QualifiedView& key) const noexcept;
        size_t operator()(const QualifiedName& key) const noexcept {
            return (*this)(QualifiedView{key.namespace_name, key.name});
        }
    };
    struct QualifiedEqual {
        using is_transparent = void;
        template <class A, class B> bool operator()(const A& a, const B& b) const noexcept {
            return std::string_view(a.namespace_name) == std::string_view(b.namespace_name) &&
                   std::string_view(a.name) == std::string_view(b.name);
        }
    };
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>{}(s);
        }
    };

    std::unordered_map<QualifiedName, Uuid, QualifiedHash, QualifiedEqual> by_qualified_name_;
    std::unordered_map<std::string, std::vector<std::pair<std::string, Uuid>>, NameHash,
                       std::equal_to<>>
        by_name_;
};

size_t NameTable::QualifiedHash::operator()(const QualifiedView& key) const noexcept {
    const size_t a = std::hash<std::string_view>{}(key.namespace_name);
    const size_t b = std::hash<std::string_view>{}(key.name);
    return a ^ (b + 0x9E3779B97F4A7C15ull + (a << 6) + (a >> 2));
}

bool NameTable::contains(std::string_view namespace_name, std::string_view name) const {
    return by_qualified_name_.find(QualifiedView{namespace_name, name}) != by_qualified_name_.end();
}

std::optional<Uuid> NameTable::find(std::string_view namespace_name, std::string_view name) const {
    auto found = by_qualified_name_.find(QualifiedView{namespace_name, name});
    if (found == by_qualified_name_.end()) return std::nullopt;
    return found->second;
}

void NameTable::reserve(size_t count) {
    by_qualified_name_.reserve(count);
    by_name_.reserve(count);
}

void NameTable::insert(std::string_view namespace_name, std::string_view name, const Uuid& id) {
    auto [slot, inserted] = by_qualified_name_.try_emplace(
        QualifiedName{std::string(namespace_name), std::string(name)}, id);
    if (!inserted) return;
    auto entries = by_name_.find(name);
    if (entries == by_name_.end()) entries = by_name_.try_emplace(std::string(name)).first;
    entries->second.emplace_back(std::string(namespace_name), id);
}

const std::vector<std::pair<std::string, Uuid>>*
NameTable::find_by_name(std::string_view name) const {
    auto found = by_name_.find(name);
    return found == by_name_.end() ? nullptr : &found->second;
}

ParseResult<std::optional<Uuid>> resolve_reference(const NameTable& table, std::string_view name,
                                                   std::string_view namespace_name) {
    if (auto id = table.find(namespace_name, name)) return std::optional<Uuid>(*id);
    const auto* candidates = table.find_by_name(name);
    if (candidates == nullptr || candidates->empty()) return std::optional<Uuid>();
    if (candidates->size() == 1) return std::optional<Uuid>(candidates->front().second);

    std::vector<std::string_view> namespaces;
    namespaces.reserve(candidates->size());
    for (const auto& [candidate_namespace, id] : *candidates)
        namespaces.push_back(candidate_namespace);
    std::sort(namespaces.begin(), namespaces.end());
    namespaces.erase(std::unique(namespaces.begin(), namespaces.end()), namespaces.end());
    std::string list;
    for (std::string_view candidate_namespace : namespaces) {
        if (!list.empty()) list += ", ";
        list += candidate_namespace;
    }
    return Err(ParserError::validation("Ambiguous reference '" + std::string(name) +
                                       "' found in namespaces: " + list));
}

bool same_unit(const Unit& a, const Unit& b) {
    // Factors compare as numbers, so "1" and "1.0" declare the same unit.
    return a.symbol == b.symbol && a.name == b.name && a.base_unit == b.base_unit &&
           a.dimension == b.dimension && a.base_factor == b.base_factor;
}

std::string unit_settings(const Unit& unit) {
    return "dimension=" + unit.dimension.to_string() +
           ", base_factor=" + unit.base_factor.to_string() + ", base_unit=" + unit.base_unit;
}

void declare_dimension(UnitRegistry& registry, const ast::Dimension& declaration) {
    Dimension dimension = Dimension::parse(declaration.name);
    // A new dimension has no base unit yet; an existing entry (built in or declared) stays.
    if (registry.base_unit_of(dimension) == nullptr) {
        registry.set_base_unit(std::move(dimension), std::string());
    }
}

ParseResult<void> declare_unit(UnitRegistry& registry, const ast::UnitDeclaration& declaration) {
    Unit unit(declaration.symbol, declaration.symbol, Dimension::parse(declaration.dimension),
              declaration.factor, declaration.base_unit);
    auto existing = registry.get_unit(unit.symbol);
    if (existing.ok()) {
        if (same_unit(*existing, unit)) return Ok();
        return Err(ParserError::grammar(
            "Conflicting unit '" + unit.symbol + "' already registered (existing: " +
            unit_settings(*existing) + "; new: " + unit_settings(unit) + ")"));
    }
    if (!existing.error().is<UnitError::UnitNotFound>()) {
        return Err(ParserError::grammar("Failed to inspect unit '" + unit.symbol +
                                        "': " + existing.error().to_string()));
    }
    // The registry refuses a zero factor (conversions would divide by it); that refusal is
    // reported like any other failed registration.
    auto registered = registry.register_unit(std::move(unit));
    if (!registered.ok()) {
        return Err(
            ParserError::grammar("Failed to register unit: " + registered.error().to_string()));
    }
    return Ok();
}

ParseResult<void> register_declared_units(const std::vector<AstNode*>& declarations) {
    if (declarations.empty()) return Ok();
    auto registry = UnitRegistry::write();
    for (const AstNode* node : declarations) {
        if (const auto* dimension = std::get_if<ast::Dimension>(node)) {
            declare_dimension(*registry, *dimension);
        } else if (const auto* unit = std::get_if<ast::UnitDeclaration>(node)) {
            VOK_TRY(declare_unit(*registry, *unit));
        }
    }
    return Ok();
}

// The declarations of one file sorted into the passes that read them, each in declaration order,
// with export wrappers taken off. Sorting once keeps the lowering one walk over the file plus one
// walk per pass over only that pass's declarations. The nodes are held mutable so that a lowering
// which owns the tree can move their contents into the graph.
struct Passes {
    std::vector<AstNode*> units; // dimensions and units
    std::vector<AstNode*> patterns;
    std::vector<AstNode*> concept_changes;
    std::vector<AstNode*> participants; // entities, resources and roles, interleaved
    std::vector<AstNode*> flows;
    std::vector<AstNode*> relations;
    std::vector<AstNode*> instances;
    std::vector<AstNode*> policies;
    std::vector<AstNode*> metrics;
    std::vector<AstNode*> mappings;
    std::vector<AstNode*> projections;

    explicit Passes(std::vector<Spanned>& declarations) {
        for (Spanned& spanned : declarations) {
            // The unwrapped node lies inside `spanned`, which is ours to change.
            AstNode& node = const_cast<AstNode&>(unwrap_export(spanned.node));
            pass_of(node).push_back(&node);
        }
    }

private:
    std::vector<AstNode*>& pass_of(const AstNode& node) {
        return std::visit(
            [this](const auto& declaration) -> std::vector<AstNode*>& {
                using T = std::decay_t<decltype(declaration)>;
                if constexpr (std::is_same_v<T, ast::Dimension> ||
                              std::is_same_v<T, ast::UnitDeclaration>) {
                    return units;
                } else if constexpr (std::is_same_v<T, ast::Pattern>) {
                    return patterns;
                } else if constexpr (std::is_same_v<T, ast::ConceptChange>) {
                    return concept_changes;
                } else if constexpr (std::is_same_v<T, ast::Entity> ||
                                     std::is_same_v<T, ast::Resource> ||
                                     std::is_same_v<T, ast::Role>) {
                    return participants;
                } else if constexpr (std::is_same_v<T, ast::Flow>) {
                    return flows;
                } else if constexpr (std::is_same_v<T, ast::Relation>) {
                    return relations;
                } else if constexpr (std::is_same_v<T, ast::Instance>) {
                    return instances;
                } else if constexpr (std::is_same_v<T, ast::Policy>) {
                    return policies;
                } else if constexpr (std::is_same_v<T, ast::Metric>) {
                    return metrics;
                } else if constexpr (std::is_same_v<T, ast::MappingDecl>) {
                    return mappings;
                } else if constexpr (std::is_same_v<T, ast::ProjectionDecl>) {
                    return projections;
                } else {
                    static_assert(std::is_same_v<T, ast::Export>);
                    // unwrap_export never yields an Export.
                    VOK_INVARIANT(false, "export left after unwrapping");
                    return units;
                }
            },
            node);
    }
};

ParserError wrapped(std::string_view prefix, const std::string& detail) {
    return ParserError::grammar(std::string(prefix) + detail);
}

// An instance field's value as the JSON the instance stores. Only values that stand for
// themselves qualify; anything that would need evaluating is refused.
ParseResult<json::Value> field_value(const Expression& expression) {
    switch (expression.kind()) {
    case ExpressionKind::Literal:
        return expression.get_if<expr::Literal>()->value;
    case ExpressionKind::QuantityLiteral: {
        const auto& quantity = *expression.get_if<expr::QuantityLiteral>();
        json::Object object;
        object.insert_or_assign("value", json::Value(quantity.value.to_string()));
        object.insert_or_assign("unit", json::Value(quantity.unit));
        return json::Value(std::move(object));
    }
    case ExpressionKind::TimeLiteral:
        return json::Value(expression.get_if<expr::TimeLiteral>()->timestamp);
    case ExpressionKind::Variable:
        return json::Value(expression.get_if<expr::Variable>()->name);
    case ExpressionKind::IntervalLiteral:
        return Err(ParserError::unsupported_expression("interval_literal"));
    case ExpressionKind::GroupBy:
        return Err(ParserError::unsupported_expression("group_by"));
    case ExpressionKind::Binary:
        return Err(ParserError::unsupported_expression("binary"));
    case ExpressionKind::Unary:
        return Err(ParserError::unsupported_expression("unary"));
    case ExpressionKind::Cast:
        return Err(ParserError::unsupported_expression("cast"));
    case ExpressionKind::Quantifier:
        return Err(ParserError::unsupported_expression("quantifier"));
    case ExpressionKind::MemberAccess:
        return Err(ParserError::unsupported_expression("member_access"));
    case ExpressionKind::Aggregation:
        return Err(ParserError::unsupported_expression("aggregation"));
    case ExpressionKind::AggregationComprehension:
        return Err(ParserError::unsupported_expression("aggregation_comprehension"));
    }
    VOK_INVARIANT(false, "unknown expression kind");
    return Err(ParserError::unsupported_expression(std::string(expression.variant_name())));
}

// The state of one lowering; dropped with everything in it when the lowering ends, except the
// graph, which the caller receives on success.
class Lowering {
public:
    Lowering(const FileMetadata& metadata, std::string file_namespace)
        : metadata_(metadata), file_namespace_(std::move(file_namespace)) {}

    ParseResult<Graph> run(Passes& passes) {
        // Sized up front: on large files, rehashing tables of string keys costs more than the
        // lookups themselves.
        entities_.reserve(passes.participants.size());
        resources_.reserve(passes.participants.size());
        roles_.reserve(passes.participants.size());
        relation_names_.reserve(passes.relations.size());
        instance_names_.reserve(passes.instances.size());
        graph_.reserve(counts_of(passes));
        VOK_TRY(register_declared_units(passes.units));
        for (AstNode* node : passes.patterns)
            VOK_TRY(add(std::get<ast::Pattern>(*node)));
        for (AstNode* node : passes.concept_changes) {
            VOK_TRY(add(std::get<ast::ConceptChange>(*node)));
        }
        for (AstNode* node : passes.participants) {
            if (const auto* entity = std::get_if<ast::Entity>(node)) {
                VOK_TRY(add(*entity));
            } else if (const auto* resource = std::get_if<ast::Resource>(node)) {
                VOK_TRY(add(*resource));
            } else {
                VOK_TRY(add(std::get<ast::Role>(*node)));
            }
        }
        for (AstNode* node : passes.flows) {
            VOK_TRY(add(std::get<ast::Flow>(*node)));
        }
        for (AstNode* node : passes.relations)
            VOK_TRY(add(std::get<ast::Relation>(*node)));
        for (AstNode* node : passes.instances) {
            VOK_TRY(add(std::get<ast::Instance>(*node)));
        }
        for (AstNode* node : passes.policies) {
            VOK_TRY(add(std::get<ast::Policy>(*node)));
        }
        for (AstNode* node : passes.metrics)
            VOK_TRY(add(std::get<ast::Metric>(*node)));
        for (AstNode* node : passes.mappings) {
            VOK_TRY(add(std::get<ast::MappingDecl>(*node)));
        }
        for (AstNode* node : passes.projections) {
            VOK_TRY(add(std::get<ast::ProjectionDecl>(*node)));
        }
        return std::move(graph_);
    }

private:
    static Graph::Counts counts_of(const Passes& passes) {
        Graph::Counts counts;
        for (const AstNode* node : passes.participants) {
            if (std::holds_alternative<ast::Entity>(*node)) {
                ++counts.entities;
            } else if (std::holds_alternative<ast::Resource>(*node)) {
                ++counts.resources;
            } else {
                ++counts.roles;
            }
        }
        counts.flows = passes.flows.size();
        counts.relations = passes.relations.size();
        counts.entity_instances = passes.instances.size();
        counts.policies = passes.policies.size();
        counts.patterns = passes.patterns.size();
        counts.concept_changes = passes.concept_changes.size();
        counts.metrics = passes.metrics.size();
        counts.mappings = passes.mappings.size();
        counts.projections = passes.projections.size();
        return counts;
    }

    template <typename T> T take(const T& part) const { return part; }

    const std::string& namespace_of(const std::optional<std::string>& domain) const {
        return domain ? *domain : file_namespace_;
    }

    ParseResult<void> add(const ast::Pattern& declaration) {
        auto pattern = Pattern::make(declaration.name, file_namespace_, declaration.regex);
        if (!pattern.ok()) return Err(ParserError::grammar(pattern.error().to_string()));
        auto added = graph_.add_pattern(std::move(*pattern));
        if (!added.ok()) return Err(ParserError::grammar(added.error().to_string()));
        return Ok();
    }

    ParseResult<void> add(const ast::ConceptChange& declaration) {
        // Concept changes live in one namespace whatever the file's, so a change declared twice
        // is caught across files of different namespaces too.
        const Uuid id = concept_id_for("default", declaration.name);
        if (graph_.concept_changes().contains(id)) {
            return Err(wrapped(
                "Failed to add concept change: ",
                GraphError(GraphError::DuplicateId{RecordKind::ConceptChange, id}).to_string()));
        }
        graph_.insert_concept_change(
            ConceptChange{id, declaration.name, declaration.from_version, declaration.to_version,
                          declaration.migration_policy, declaration.breaking_change});
        return Ok();
    }

    ParseResult<void> add(const ast::Entity& declaration) {
        const std::string& namespace_name = namespace_of(declaration.domain);
        if (entities_.contains(namespace_name, declaration.name)) {
            return Err(ParserError::duplicate_declaration("Entity '" + declaration.name +
                                                          "' already declared in namespace '" +
                                                          namespace_name + "'"));
        }
        Entity entity = Entity::make(declaration.name, namespace_name);
        if (declaration.version) {
            auto version = SemanticVersion::parse(*declaration.version);
            if (!version.ok()) {
                return Err(ParserError::grammar("Invalid entity version '" + *declaration.version +
                                                "': " + version.error()));
            }
            entity.version = *version;
        }
        if (const json::Value* replaces = declaration.annotations.find("replaces");
            replaces != nullptr && replaces->is_string()) {
            entity.replaces = replaces->as_string();
        }
        if (const json::Value* changes = declaration.annotations.find("changes");
            changes != nullptr && changes->is_array()) {
            for (const json::Value& change : changes->as_array()) {
                if (change.is_string()) entity.changes.push_back(change.as_string());
            }
        }
        const Uuid id = entity.id;
        auto added = graph_.add_entity(std::move(entity));
        if (!added.ok()) return Err(wrapped("Failed to add entity: ", added.error().to_string()));
        entities_.insert(namespace_name, declaration.name, id);
        return Ok();
    }

    ParseResult<void> add(const ast::Resource& declaration) {
        const std::string& namespace_name = namespace_of(declaration.domain);
        if (resources_.contains(namespace_name, declaration.name)) {
            return Err(ParserError::duplicate_declaration("Resource '" + declaration.name +
                                                          "' already declared in namespace '" +
                                                          namespace_name + "'"));
        }
        // An unregistered symbol still lowers, as a counted unit of its own name.
        Unit unit = unit_for_symbol(declaration.unit_name ? *declaration.unit_name : "units");
        Resource resource = Resource::make(declaration.name, std::move(unit), namespace_name);
        const Uuid id = resource.id;
        auto added = graph_.add_resource(std::move(resource));
        if (!added.ok()) {
            return Err(wrapped("Failed to add resource: ", added.error().to_string()));
        }
        resources_.insert(namespace_name, declaration.name, id);
        return Ok();
    }

    ParseResult<void> add(const ast::Role& declaration) {
        const std::string& namespace_name = namespace_of(declaration.domain);
        if (roles_.contains(namespace_name, declaration.name)) {
            return Err(ParserError::duplicate_declaration("Role '" + declaration.name +
                                                          "' already declared in namespace '" +
                                                          namespace_name + "'"));
        }
        Role role = Role::make(declaration.name, namespace_name);
        const Uuid id = role.id;
        auto added = graph_.add_role(std::move(role));
        if (!added.ok()) return Err(wrapped("Failed to add role: ", added.error().to_string()));
        roles_.insert(namespace_name, declaration.name, id);
        return Ok();
    }

    ParseResult<void> add(const ast::Flow& declaration) {
        VOK_ASSIGN(auto from_id,
                   resolve_reference(entities_, declaration.from_entity, file_namespace_));
        if (!from_id) return Err(ParserError::undefined_entity(declaration.from_entity));
        VOK_ASSIGN(auto to_id,
                   resolve_reference(entities_, declaration.to_entity, file_namespace_));
        if (!to_id) return Err(ParserError::undefined_entity(declaration.to_entity));
        VOK_ASSIGN(auto resource_id,
                   resolve_reference(resources_, declaration.resource_name, file_namespace_));
        if (!resource_id) return Err(ParserError::undefined_resource(declaration.resource_name));

        Flow flow = Flow::make(*resource_id, *from_id, *to_id,
                               declaration.quantity ? *declaration.quantity : Decimal::from_u64(0));
        flow.namespace_ = file_namespace_;
        auto added = graph_.add_flow(std::move(flow));
        if (!added.ok()) return Err(wrapped("Failed to add flow: ", added.error().to_string()));
        return Ok();
    }

    ParseResult<void> add(const ast::Relation& declaration) {
        // Relation names are unique across namespaces.
        if (relation_names_.contains(declaration.name)) {
            return Err(ParserError::duplicate_declaration("Relation '" + declaration.name +
                                                          "' already declared"));
        }
        VOK_ASSIGN(auto subject_id,
                   resolve_reference(roles_, declaration.subject_role, file_namespace_));
        if (!subject_id) {
            return Err(
                ParserError::grammar("Undefined subject role '" + declaration.subject_role + "'"));
        }
        VOK_ASSIGN(auto object_id,
                   resolve_reference(roles_, declaration.object_role, file_namespace_));
        if (!object_id) {
            return Err(
                ParserError::grammar("Undefined object role '" + declaration.object_role + "'"));
        }
        // The via clause names the resource that the carrying flow moves; the relation records
        // that resource's id.
        std::optional<Uuid> via_id;
        if (declaration.via_flow) {
            VOK_ASSIGN(via_id,
                       resolve_reference(resources_, *declaration.via_flow, file_namespace_));
            if (!via_id) return Err(ParserError::undefined_resource(*declaration.via_flow));
        }
        auto added =
            graph_.add_relation(Relation::make(declaration.name, file_namespace_, *subject_id,
                                               declaration.predicate, *object_id, via_id));
        if (!added.ok()) {
            return Err(wrapped("Failed to add relation '" + declaration.name + "': ",
                               added.error().to_string()));
        }
        relation_names_.insert(declaration.name);
        return Ok();
    }

    ParseResult<void> add(const ast::Instance& declaration) {
        Instance instance =
            Instance::make(declaration.name, declaration.entity_type, file_namespace_);
        for (const auto& [field, expression] : declaration.fields) {
            VOK_ASSIGN(json::Value value, field_value(expression));
            instance.set_field(field, std::move(value));
        }
        const std::string prefix = "Failed to add entity instance '" + declaration.name + "': ";
        // An instance's id includes its entity type, so the name needs its own check.
        if (graph_.entity_instances().contains(instance.id) ||
            instance_names_.contains(declaration.name)) {
            return Err(
                wrapped(prefix, "Entity instance '" + declaration.name + "' already exists"));
        }
        if (!entities_.contains(file_namespace_, declaration.entity_type)) {
            return Err(wrapped(prefix, "Entity '" + declaration.entity_type +
                                           "' not found in namespace '" + file_namespace_ + "'"));
        }
        instance_names_.insert(declaration.name);
        graph_.insert_entity_instance(std::move(instance));
        return Ok();
    }

    ParseResult<void> add(ast::Policy& declaration) {
        Policy policy =
            Policy::make(declaration.name, file_namespace_, take(declaration.expression));
        ast::PolicyMetadata& metadata = declaration.metadata;
        if (metadata.kind) policy.kind = *metadata.kind;
        if (metadata.modality) policy.modality = *metadata.modality;
        if (metadata.priority) policy.priority = *metadata.priority;
        if (metadata.rationale) policy.rationale = metadata.rationale;
        if (!metadata.tags.empty()) policy.tags = take(metadata.tags);
        // A policy without a version of its own takes the file's.
        const std::optional<std::string>& version_text =
            declaration.version ? declaration.version : metadata_.version;
        if (version_text) {
            auto version = SemanticVersion::parse(*version_text);
            if (!version.ok()) {
                return Err(ParserError::grammar("Invalid policy version '" + *version_text +
                                                "': " + version.error()));
            }
            policy.version = *version;
        }
        auto added = graph_.add_policy(std::move(policy));
        if (!added.ok()) {
            return Err(wrapped("Failed to add policy '" + declaration.name + "': ",
                               added.error().to_string()));
        }
        return Ok();
    }

    ParseResult<void> add(ast::Metric& declaration) {
        const Uuid id = concept_id_for(file_namespace_, declaration.name);
        if (graph_.metrics().contains(id)) {
            return Err(wrapped("Failed to add metric '" + declaration.name + "': ",
                               duplicate_id(RecordKind::Metric, id)));
        }
        const ast::MetricMetadata& metadata = declaration.metadata;
        graph_.insert_metric(Metric{id, declaration.name, file_namespace_,
                                    take(declaration.expression), metadata.refresh_interval,
                                    metadata.unit, metadata.threshold, metadata.severity,
                                    metadata.target, metadata.window});
        return Ok();
    }

    ParseResult<void> add(ast::MappingDecl& declaration) {
        const Uuid id = concept_id_for(file_namespace_, declaration.name);
        if (graph_.mappings().contains(id)) {
            return Err(wrapped("Failed to add mapping: ", duplicate_id(RecordKind::Mapping, id)));
        }
        graph_.insert_mapping(Mapping{id, declaration.name, file_namespace_, declaration.target,
                                      take(declaration.rules)});
        return Ok();
    }

    ParseResult<void> add(ast::ProjectionDecl& declaration) {
        const Uuid id = concept_id_for(file_namespace_, declaration.name);
        if (graph_.projections().contains(id)) {
            return Err(
                wrapped("Failed to add projection: ", duplicate_id(RecordKind::Projection, id)));
        }
        graph_.insert_projection(Projection{id, declaration.name, file_namespace_,
                                            declaration.target, take(declaration.overrides)});
        return Ok();
    }

    static std::string duplicate_id(RecordKind kind, const Uuid& id) {
        return GraphError(GraphError::DuplicateId{kind, id}).to_string();
    }

    const FileMetadata& metadata_;
    const std::string file_namespace_;
    Graph graph_;
    NameTable entities_;
    NameTable resources_;
    NameTable roles_;
    std::unordered_set<std::string> relation_names_;
    std::unordered_set<std::string> instance_names_;
};

} // namespace

ParseResult<Graph> lower(Ast& ast, const LoweringOptions& options) {
    FileMetadata& metadata = ast.metadata;
    std::string profile = metadata.profile          ? *metadata.profile
                          : options.default_profile ? *options.default_profile
                                                    : std::string("default");
    if (find_profile(profile) == nullptr && !options.accept_any_profile) {
        return Err(ParserError::validation("Unknown profile: '" + profile +
                                           "'. Available profiles: " + available_profile_names()));
    }
    if (!metadata.profile) metadata.profile = std::move(profile);

    std::string file_namespace = metadata.namespace_         ? *metadata.namespace_
                                 : options.default_namespace ? *options.default_namespace
                                                             : std::string("default");
    Lowering lowering(metadata, std::move(file_namespace));
    Passes passes(ast.declarations);
    return lowering.run(passes);
}

} // namespace vok::reference
