// The lowering of one syntax tree into a new Graph; see lowering.h. Runs in passes: the unit check
// (lowering_units.h), then declarations in an order that lets references resolve through the
// name tables (lowering_name_table.h), then the units' commit; ids come from concept_id.
#include "parser/lowering.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include "common/available_cores.h"
#include "common/built_ahead.h"
#include "common/cancellation.h"
#include "common/dropping.h"
#include "common/invariant.h"
#include "common/memory_release.h"
#include "concept_id/concept_id.h"
#include "parser/lowering_name_table.h"
#include "parser/lowering_units.h"
#include "parser/parse_source.h"
#include "parser/parse_tree.h"
#include "parser/profile.h"
#include "semantic_version/semantic_version.h"
#include "units/unit_registry.h"

namespace vok {

namespace {

// The position of declaration kind T in AstNode.
template <class T, size_t... I> constexpr size_t variant_index(std::index_sequence<I...>) {
    size_t found = 0;
    (void)((std::is_same_v<T, std::variant_alternative_t<I, AstNode>> ? (found = I, true)
                                                                      : false) ||
           ...);
    return found;
}
template <class T> constexpr size_t kind_index() {
    return variant_index<T>(std::make_index_sequence<std::variant_size_v<AstNode>>());
}

// The passes, numbered in the order the lowering reads them.
constexpr size_t kPassCount = 11;

// The pass that reads declarations of the kind at AstNode index `kind` (exports are unwrapped
// before they are sorted).
size_t pass_number(size_t kind) {
    switch (kind) {
    case kind_index<ast::Dimension>():
    case kind_index<ast::UnitDeclaration>():
        return 0;
    case kind_index<ast::Pattern>():
        return 1;
    case kind_index<ast::ConceptChange>():
        return 2;
    case kind_index<ast::Entity>():
    case kind_index<ast::Resource>():
    case kind_index<ast::Role>():
        return 3;
    case kind_index<ast::Flow>():
        return 4;
    case kind_index<ast::Relation>():
        return 5;
    case kind_index<ast::Instance>():
        return 6;
    case kind_index<ast::Policy>():
        return 7;
    case kind_index<ast::Metric>():
        return 8;
    case kind_index<ast::MappingDecl>():
        return 9;
    case kind_index<ast::ProjectionDecl>():
        return 10;
    default:
        VOK_INVARIANT(false, "export left after unwrapping");
        return 0;
    }
}

// The declarations of one file sorted into the passes that read them, each in declaration order,
// with export wrappers taken off. Sorting once keeps the lowering one walk over the file plus one
// walk per pass over only that pass's declarations. An item is what stands for a declaration
// until its pass reads it: a node of a syntax tree (held mutable, so that a lowering which owns
// the tree can move its contents into the graph) or the pair its node will be built from.
template <class Item> struct Passes {
    std::vector<Item> units; // dimensions and units
    std::vector<Item> patterns;
    std::vector<Item> concept_changes;
    std::vector<Item> participants; // entities, resources and roles, interleaved
    std::vector<Item> flows;
    std::vector<Item> relations;
    std::vector<Item> instances;
    std::vector<Item> policies;
    std::vector<Item> metrics;
    std::vector<Item> mappings;
    std::vector<Item> projections;

    // How many declarations of each kind, by AstNode index (exports not counted: they are
    // unwrapped).
    std::array<size_t, std::variant_size_v<AstNode>> kind_counts{};

    // `kinds` holds each declaration's AstNode index in file order, `item_at(i)` its item. The
    // lists are allocated once at their final sizes.
    template <class ItemAt> Passes(const std::vector<uint8_t>& kinds, ItemAt item_at) {
        for (const uint8_t kind : kinds)
            ++kind_counts[kind];
        // Several kinds share a list, so each kind adds its count to the room already made.
        for (size_t kind = 0; kind < kind_counts.size(); ++kind) {
            if (kind_counts[kind] == 0) continue;
            std::vector<Item>& pass = pass_of(kind);
            pass.reserve(pass.capacity() + kind_counts[kind]);
        }
        for (size_t i = 0; i < kinds.size(); ++i)
            pass_of(kinds[i]).push_back(item_at(i));
    }

    template <class T> size_t count() const { return kind_counts[kind_index<T>()]; }

    // The lists by pass number.
    std::array<std::vector<Item>*, kPassCount> lists() {
        return {&units,     &patterns, &concept_changes, &participants, &flows,      &relations,
                &instances, &policies, &metrics,         &mappings,     &projections};
    }

    // Calls `f` with each list, in the order the lowering reads them.
    template <class F> void for_each_list(F f) {
        for (std::vector<Item>* list : lists())
            f(*list);
    }

private:
    std::vector<Item>& pass_of(size_t kind) { return *lists()[pass_number(kind)]; }
};

// The nodes of a syntax tree that the lowering reads in place.
class TreeNodes {
public:
    using Item = AstNode*;

    static AstNode& node(const std::vector<Item>& pass, size_t i) { return *pass[i]; }

    // Declarations are read pass by pass, so from all over the tree; the one a few places ahead
    // is loaded while the current one is lowered: its first fields and its kind, which the
    // variant keeps after its storage.
    static void prefetch(const std::vector<Item>& pass, size_t i) {
        static constexpr size_t kNodeLookahead = 4;
        if (i + kNodeLookahead < pass.size()) {
            const char* node = reinterpret_cast<const char*>(pass[i + kNodeLookahead]);
            __builtin_prefetch(node);
            __builtin_prefetch(node + sizeof(AstNode) - 1);
        }
    }

    static const std::vector<AstNode*>& unit_nodes(const std::vector<Item>& pass) { return pass; }
};

// Set by tests and benchmarks (build_ahead_for_testing): the declaration workers of every file.
constexpr size_t kChoiceByFile = static_cast<size_t>(-1);
std::atomic<size_t> forced_workers{kChoiceByFile};

// Thrown by PairNodes when a declaration fails to build; the direct road then gives way to the
// tree road, which words the failure.
struct DeclarationRefused {};

// How many participants ahead of the one it lowers the lowering asks for (Lowering::kLookahead):
// the node sources must keep at least that many nodes back.
constexpr size_t kParticipantLookahead = 8;

// Declaration nodes built from their pairs only when their pass reads them, and dropped a few
// declarations later: no syntax tree of the whole file is ever alive. The lowering reads a node
// at most a few places after it first asked for it (participant ids are computed ahead), so a
// small ring of nodes suffices. The pairs are those of a tree that lies in the order the passes
// read them (gathered so, or the file's own when it is in that order already; an item is its
// declaration's pair index there), so the pairs of the declarations already built lie in front and
// their memory is given back while the lowering goes on.
class PairNodes {
public:
    using Item = uint32_t;

    // The pairs of `trees`, read one tree after the other: an item is a pair's index counted
    // across them all, and a tree is dropped once the lowering has read past it.
    explicit PairNodes(std::vector<grammar::DslTree>&& trees) {
        uint32_t base = 0;
        for (grammar::DslTree& tree : trees) {
            bases_.push_back(base);
            base += static_cast<uint32_t>(tree.pair_count());
            ends_.push_back(base);
            trees_.emplace_back(std::move(tree));
        }
    }

    // Files of many declarations have their nodes built on worker threads, a bounded window ahead
    // of the lowering, in the order the passes read them. The lowering sees the same nodes and the
    // same refusals.
    void build_ahead(Passes<Item>& passes) {
        const auto lists = passes.lists();
        size_t count = 0;
        for (const std::vector<Item>* list : lists)
            count += list->size();
        const size_t workers = workers_for(count);
        if (workers == 0) return;
        std::vector<Item> schedule;
        schedule.reserve(count);
        for (size_t p = 0; p < kPassCount; ++p) {
            lists_[p] = lists[p];
            offsets_[p] = schedule.size();
            schedule.insert(schedule.end(), lists[p]->begin(), lists[p]->end());
        }
        // Pairs are given back behind the oldest node in use, so the passes must read them front
        // to back (they do, however the file's pairs were laid out).
        if (!std::is_sorted(schedule.begin(), schedule.end())) return;
        schedule_ = std::move(schedule);
        try {
            ahead_.emplace(count, workers,
                           [this](size_t position) { return build(schedule_[position]); });
        } catch (const std::system_error&) {
            // No threads to be had: the lowering builds each node itself.
            ahead_.reset();
        } catch (const std::bad_alloc&) {
            ahead_.reset(); // nor memory to start them
        }
    }

    AstNode& node(const std::vector<Item>& pass, size_t i) {
        if (ahead_) return node_built_ahead(pass, i);
        const Item item = pass[i];
        Slot& slot = slots_[i % kSlots];
        if (slot.item != item || !slot.node) {
            // A node dropped from the ring whose pairs were given back cannot be built again.
            if (item < released_) throw DeclarationRefused{};
            slot.node = build(item);
            slot.item = item;
            if (++builds_ % kReleaseInterval == 0) release_read_pairs();
        }
        return *slot.node;
    }

    static void prefetch(const std::vector<Item>&, size_t) {}

    // Stops the workers, waiting for the nodes they are building, and drops what they built.
    void stop_building() noexcept { ahead_.reset(); }

    // The unit pass reads its declarations together, so they are all built; files declare few.
    const std::vector<AstNode*>& unit_nodes(const std::vector<Item>& pass) {
        units_.reserve(pass.size());
        for (size_t i = 0; i < pass.size(); ++i) {
            poll_cancellation();
            units_.push_back(ahead_ ? std::move(node_built_ahead(pass, i)) : build(pass[i]));
        }
        for (AstNode& unit : units_)
            unit_pointers_.push_back(&unit);
        return unit_pointers_;
    }

private:
    static size_t workers_for(size_t count) {
        if (const size_t forced = forced_workers.load(std::memory_order_relaxed);
            forced != kChoiceByFile)
            return forced;
        const size_t cores = cores_for_workers();
        if (count < kFewestBuiltAhead || cores < 2) return 0;
        return std::min(cores - 1, kMostWorkers);
    }

    // The tree holding `item`: the last whose first index is at most `item` (an empty tree
    // shares its first index with the next).
    size_t tree_of(Item item) const {
        return static_cast<size_t>(std::upper_bound(bases_.begin(), bases_.end(), item) -
                                   bases_.begin()) -
               1;
    }

    AstNode& node_built_ahead(const std::vector<Item>& pass, size_t i) {
        if (&pass != lists_[reading_]) {
            reading_ = 0;
            while (reading_ + 1 < kPassCount && lists_[reading_] != &pass)
                ++reading_;
            VOK_INVARIANT(lists_[reading_] == &pass, "a pass the nodes were not built for");
        }
        AstNode& built = ahead_->at(offsets_[reading_] + i);
        const size_t kept = ahead_->first_kept();
        if (kept >= released_position_ + kReleaseInterval && kept < schedule_.size()) {
            release_pairs_before(schedule_[kept]);
            released_position_ = kept;
        }
        return built;
    }

    AstNode build(Item item) {
        const size_t t = tree_of(item);
        if (!trees_[t]) throw DeclarationRefused{};
        auto built = build_declaration_node(trees_[t]->pair_at(item - bases_[t]));
        if (!built.ok()) throw DeclarationRefused{};
        return std::move(*built);
    }

    // Every pair before the oldest declaration in the ring has been read for good.
    void release_read_pairs() {
        Item oldest = std::numeric_limits<Item>::max();
        for (const Slot& slot : slots_)
            if (slot.node) oldest = std::min(oldest, slot.item);
        if (oldest == std::numeric_limits<Item>::max()) return;
        release_pairs_before(oldest);
    }

    // Gives back the pairs before `oldest`, which no node still to be built reads.
    void release_pairs_before(Item oldest) {
        if (oldest <= released_) return;
        for (size_t t = 0; t < trees_.size(); ++t) {
            if (ends_[t] <= oldest) {
                trees_[t].reset();
            } else {
                if (trees_[t] && oldest > bases_[t]) trees_[t]->release_before(oldest - bases_[t]);
                break;
            }
        }
        released_ = oldest;
    }

    // More than the lowering's lookahead, so a node is never rebuilt while it is in use.
    static constexpr size_t kSlots = 16;
    static_assert(kSlots > kParticipantLookahead);
    // Builds between two looks at what can be given back; the memory goes in large pages anyway.
    static constexpr size_t kReleaseInterval = 256;
    struct Slot {
        Item item = 0;
        std::optional<AstNode> node;
    };
    std::vector<std::optional<grammar::DslTree>> trees_;
    std::vector<Item> bases_; // the first item of each tree
    std::vector<Item> ends_;  // the item just past each tree
    std::array<Slot, kSlots> slots_;
    std::vector<AstNode> units_;
    std::vector<AstNode*> unit_pointers_;
    size_t builds_ = 0;
    Item released_ = 0; // pairs before this index are given back

    // Fewer declarations than this are built by the lowering itself: starting threads would cost
    // more than they save.
    static constexpr size_t kFewestBuiltAhead = 2048;
    // Three workers keep ahead of the lowering on the benchmark model; more only contend.
    static constexpr size_t kMostWorkers = 3;
    std::array<const std::vector<Item>*, kPassCount> lists_{}; // the passes built ahead, by number
    std::array<size_t, kPassCount> offsets_{}; // where each pass starts in `schedule_`
    std::vector<Item> schedule_;               // the items built ahead, in the order read
    size_t reading_ = 0;                       // the pass the lowering read last
    size_t released_position_ = 0;             // pairs before this position's are given back
    // Declared last: its workers stop before anything they read goes.
    std::optional<BuiltAhead<AstNode>> ahead_;
};

ParserError wrapped(std::string_view prefix, const std::string& detail) {
    return ParserError::grammar(std::string(prefix) + detail);
}

// A part of the tree: moved out when the tree is ours to consume, copied otherwise.
template <class T> T take_part(T& part, bool consume) {
    if (consume) return std::move(part);
    return part;
}

// An instance field's value as the JSON the instance stores. Only values that stand for
// themselves qualify; anything that would need evaluating is refused.
ParseResult<json::Value> field_value(Expression& expression, bool consume) {
    switch (expression.kind()) {
    case ExpressionKind::Literal:
        return take_part(expression.get_if<expr::Literal>()->value, consume);
    case ExpressionKind::QuantityLiteral: {
        auto& quantity = *expression.get_if<expr::QuantityLiteral>();
        std::vector<json::Object::Entry> entries;
        entries.reserve(2);
        entries.emplace_back("unit", json::Value(take_part(quantity.unit, consume)));
        entries.emplace_back("value", json::Value(quantity.value.to_string()));
        return json::Value(json::Object::from_sorted_unique_entries(std::move(entries)));
    }
    case ExpressionKind::TimeLiteral:
        return json::Value(take_part(expression.get_if<expr::TimeLiteral>()->timestamp, consume));
    case ExpressionKind::Variable:
        return json::Value(take_part(expression.get_if<expr::Variable>()->name, consume));
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
// graph, which the caller receives on success. `Source` hands out the declaration nodes of the
// passes (TreeNodes or PairNodes).
template <class Source> class Lowering {
    using Item = typename Source::Item;

public:
    // With `consume`, expressions, rules, tags and fields are moved out of the nodes into the
    // graph instead of copied; the nodes are then only fit to be dropped.
    Lowering(const FileMetadata& metadata, std::string file_namespace, bool consume, Source& source)
        : metadata_(metadata), file_namespace_(std::move(file_namespace)),
          shared_file_namespace_(file_namespace_), consume_(consume), source_(source) {}

    ParseResult<Graph> run(Passes<Item>& passes) {
        // Sized up front: growing the stores would move every record and rehash every index.
        instance_names_.reserve(passes.instances.size());
        graph_.reserve(counts_of(passes));
        VOK_ASSIGN(units_, DeclaredUnits::check(source_.unit_nodes(passes.units)));
        // Until the units are committed at the end nothing outside this lowering has changed, so
        // every pass may stop on cancellation.
        VOK_TRY(lower_each<ast::Pattern>(passes.patterns));
        VOK_TRY(lower_each<ast::ConceptChange>(passes.concept_changes));
        for (size_t i = 0; i < passes.participants.size(); ++i) {
            source_.prefetch(passes.participants, i);
            const AstNode* node = &source_.node(passes.participants, i);
            poll_cancellation();
            const Uuid id = participant_id(passes.participants, i);
            if (const auto* entity = std::get_if<ast::Entity>(node)) {
                VOK_TRY(add(*entity, id));
            } else if (const auto* resource = std::get_if<ast::Resource>(node)) {
                VOK_TRY(add(*resource, id));
            } else {
                VOK_TRY(add(std::get<ast::Role>(*node), id));
            }
        }
        VOK_TRY(lower_each<ast::Flow>(passes.flows));
        VOK_TRY(lower_each<ast::Relation>(passes.relations));
        VOK_TRY(lower_each<ast::Instance>(passes.instances));
        VOK_TRY(lower_each<ast::Policy>(passes.policies));
        VOK_TRY(lower_each<ast::Metric>(passes.metrics));
        VOK_TRY(lower_each<ast::MappingDecl>(passes.mappings));
        VOK_TRY(lower_each<ast::ProjectionDecl>(passes.projections));
        // The file has lowered: its units join the process-wide registry, and nothing after this
        // may stop the lowering.
        VOK_TRY(std::move(units_).commit());
        return std::move(graph_);
    }

private:
    static Graph::Counts counts_of(const Passes<Item>& passes) {
        Graph::Counts counts;
        counts.entities = passes.template count<ast::Entity>();
        counts.resources = passes.template count<ast::Resource>();
        counts.roles = passes.template count<ast::Role>();
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

    template <typename T> T take(T& part) const {
        if (consume_) return std::move(part);
        return part;
    }

    const std::string& namespace_of(const std::optional<std::string>& domain) const {
        return domain ? *domain : file_namespace_;
    }

    // The one SharedText of a declaration's namespace that all its records share.
    const SharedText& shared_namespace_of(const std::optional<std::string>& domain) {
        if (!domain) return shared_file_namespace_;
        auto found = domain_namespaces_.find(*domain);
        if (found == domain_namespaces_.end()) {
            found = domain_namespaces_.emplace(*domain, SharedText(*domain)).first;
        }
        return found->second;
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

    // Lowers the declarations of one pass in order, polling for cancellation before each.
    template <class Declaration> ParseResult<void> lower_each(const std::vector<Item>& pass) {
        for (size_t i = 0; i < pass.size(); ++i) {
            source_.prefetch(pass, i);
            poll_cancellation();
            VOK_TRY(add(std::get<Declaration>(source_.node(pass, i))));
        }
        return Ok();
    }

    // How many participants ahead their ids are computed and their index slots prefetched. The
    // indexes of a large file do not fit in the cache, so each insert waits for memory twice (id
    // slot, name slot); computing ahead lets those waits overlap.
    static constexpr size_t kLookahead = kParticipantLookahead;
    // Node i + kLookahead is asked for before node i; nodes built ahead are kept from the block
    // before the one asked for last, so node i is still there while kLookahead is below a block.
    static_assert(kLookahead < BuiltAhead<AstNode>::kBlock);

    // The concept id of participant `i` (called for i = 0, 1, 2, ... in turn).
    Uuid participant_id(const std::vector<Item>& participants, size_t i) {
        if (i == 0) {
            for (size_t k = 0; k < kLookahead && k < participants.size(); ++k)
                ahead_[k] = prepare_participant(source_.node(participants, k));
        }
        const Uuid id = ahead_[i % kLookahead];
        if (i + kLookahead < participants.size()) {
            ahead_[i % kLookahead] =
                prepare_participant(source_.node(participants, i + kLookahead));
        }
        return id;
    }

    Uuid prepare_participant(const AstNode& node) {
        if (const auto* entity = std::get_if<ast::Entity>(&node)) {
            const Uuid id = concept_id_for(namespace_of(entity->domain), entity->name);
            graph_.prefetch_entity(id);
            return id;
        }
        if (const auto* resource = std::get_if<ast::Resource>(&node)) {
            const Uuid id = concept_id_for(namespace_of(resource->domain), resource->name);
            graph_.prefetch_resource(id);
            return id;
        }
        const auto& role = std::get<ast::Role>(node);
        const Uuid id = concept_id_for(namespace_of(role.domain), role.name);
        graph_.prefetch_role(id);
        return id;
    }

    // A participant record (Entity, Resource or Role) with its id, name and namespace set. The
    // duplicate check has computed the id already; the record's constructor would compute it
    // again.
    template <class Record>
    static Record participant(const Uuid& id, const std::string& name,
                              const SharedText& namespace_name) {
        Record record;
        record.id = id;
        record.name = name;
        record.namespace_ = namespace_name;
        return record;
    }

    // `id` is the concept id of the declaration's namespace and name.
    ParseResult<void> add(const ast::Entity& declaration, const Uuid& id) {
        const std::string& namespace_name = namespace_of(declaration.domain);
        if (entities_.holds(id, namespace_name, declaration.name)) {
            return Err(ParserError::duplicate_declaration("Entity '" + declaration.name +
                                                          "' already declared in namespace '" +
                                                          namespace_name + "'"));
        }
        auto entity =
            participant<Entity>(id, declaration.name, shared_namespace_of(declaration.domain));
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
        auto added = graph_.add_entity(std::move(entity));
        if (!added.ok()) return Err(wrapped("Failed to add entity: ", added.error().to_string()));
        return Ok();
    }

    // `id` is the concept id of the declaration's namespace and name.
    ParseResult<void> add(const ast::Resource& declaration, const Uuid& id) {
        const std::string& namespace_name = namespace_of(declaration.domain);
        if (resources_.holds(id, namespace_name, declaration.name)) {
            return Err(ParserError::duplicate_declaration("Resource '" + declaration.name +
                                                          "' already declared in namespace '" +
                                                          namespace_name + "'"));
        }
        auto added = graph_.add_resource(Resource{
            id, declaration.name, unit_of(declaration.unit_name ? *declaration.unit_name : "units"),
            shared_namespace_of(declaration.domain), json::Object()});
        if (!added.ok()) {
            return Err(wrapped("Failed to add resource: ", added.error().to_string()));
        }
        return Ok();
    }

    // `id` is the concept id of the declaration's namespace and name.
    ParseResult<void> add(const ast::Role& declaration, const Uuid& id) {
        const std::string& namespace_name = namespace_of(declaration.domain);
        if (roles_.holds(id, namespace_name, declaration.name)) {
            return Err(ParserError::duplicate_declaration("Role '" + declaration.name +
                                                          "' already declared in namespace '" +
                                                          namespace_name + "'"));
        }
        auto added = graph_.add_role(
            participant<Role>(id, declaration.name, shared_namespace_of(declaration.domain)));
        if (!added.ok()) return Err(wrapped("Failed to add role: ", added.error().to_string()));
        return Ok();
    }

    // The unit a resource records for a symbol: the file's own, else the registry's (an
    // unregistered symbol still lowers, as a counted unit of its own name). Resources often come
    // in runs over one unit, so the last symbol's unit is kept rather than looked up again under
    // the registry's lock.
    const Unit& unit_of(const std::string& symbol) {
        if (!last_unit_ || last_unit_->symbol != symbol)
            last_unit_.emplace(units_.unit_for(symbol));
        return *last_unit_;
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

        auto added = graph_.add_flow(
            Flow{Uuid::new_v4(), *resource_id, *from_id, *to_id,
                 declaration.quantity ? *declaration.quantity : Decimal::from_u64(0),
                 shared_file_namespace_, json::Object()});
        if (!added.ok()) return Err(wrapped("Failed to add flow: ", added.error().to_string()));
        return Ok();
    }

    ParseResult<void> add(const ast::Relation& declaration) {
        // Relation names are unique across namespaces. Every relation of a file is in the file's
        // namespace, so a name is taken exactly when its id is.
        const Uuid id = concept_id_for(file_namespace_, declaration.name);
        if (graph_.relations().contains(id)) {
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
            graph_.add_relation(Relation{id, declaration.name, shared_file_namespace_, *subject_id,
                                         declaration.predicate, *object_id, via_id});
        if (!added.ok()) {
            return Err(wrapped("Failed to add relation '" + declaration.name + "': ",
                               added.error().to_string()));
        }
        return Ok();
    }

    ParseResult<void> add(ast::Instance& declaration) {
        // The fields are kept sorted by name, as an object's keys are: they fill the object in
        // order.
        std::vector<json::Object::Entry> fields;
        fields.reserve(declaration.fields.size());
        for (auto& [field, expression] : declaration.fields) {
            VOK_ASSIGN(json::Value value, field_value(expression, consume_));
            fields.emplace_back(field, std::move(value));
        }
        // As Instance::make builds it (the id of namespace and entity type + ":" + name), with
        // the file's shared namespace text.
        Instance instance{
            Uuid::new_v5(Uuid::namespace_dns(),
                         {file_namespace_, "::", declaration.entity_type, ":", declaration.name}),
            declaration.name, declaration.entity_type, shared_file_namespace_,
            json::Object::from_sorted_unique_entries(std::move(fields))};
        auto failed = [&](const std::string& detail) {
            return Err(
                wrapped("Failed to add entity instance '" + declaration.name + "': ", detail));
        };
        // An instance's id includes its entity type, so the name needs its own check.
        if (graph_.entity_instances().contains(instance.id) ||
            instance_names_.contains(declaration.name)) {
            return failed("Entity instance '" + declaration.name + "' already exists");
        }
        if (!entities_.contains(file_namespace_, declaration.entity_type)) {
            return failed("Entity '" + declaration.entity_type + "' not found in namespace '" +
                          file_namespace_ + "'");
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
        if (metadata.rationale) policy.rationale = take(metadata.rationale);
        if (!metadata.tags.empty()) policy.tags = take(metadata.tags);
        // A policy without a version of its own takes the file's, which is parsed once.
        const std::optional<std::string>& version_text =
            declaration.version ? declaration.version : metadata_.version;
        if (version_text) {
            if (!declaration.version && !file_version_) {
                file_version_.emplace(SemanticVersion::parse(*version_text));
            }
            const auto& version =
                declaration.version ? SemanticVersion::parse(*version_text) : *file_version_;
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
    const SharedText shared_file_namespace_;
    std::unordered_map<std::string, SharedText> domain_namespaces_;
    const bool consume_;
    Source& source_;
    DeclaredUnits units_;
    Graph graph_;
    NameTable<Entity> entities_{graph_, &Graph::entities, &Graph::find_entity_by_name};
    NameTable<Resource> resources_{graph_, &Graph::resources, &Graph::find_resource_by_name};
    NameTable<Role> roles_{graph_, &Graph::roles, &Graph::find_role_by_name};
    // Owned: a node built from its pair is dropped soon after its pass has read it.
    std::unordered_set<std::string> instance_names_;
    std::optional<Unit> last_unit_;
    std::array<Uuid, kLookahead> ahead_;
    std::optional<Result<SemanticVersion, std::string>> file_version_;
};

} // namespace

namespace {

// The profile a file lowers under, or its refusal.
ParseResult<std::string> effective_profile(const FileMetadata& metadata,
                                           const LoweringOptions& options) {
    std::string profile = metadata.profile          ? *metadata.profile
                          : options.default_profile ? *options.default_profile
                                                    : std::string("default");
    if (find_profile(profile) == nullptr && !options.accept_any_profile) {
        return Err(ParserError::validation("Unknown profile: '" + profile +
                                           "'. Available profiles: " + available_profile_names()));
    }
    return profile;
}

std::string effective_namespace(const FileMetadata& metadata, const LoweringOptions& options) {
    return metadata.namespace_         ? *metadata.namespace_
           : options.default_namespace ? *options.default_namespace
                                       : std::string("default");
}

ParseResult<Graph> lower(Ast& ast, const LoweringOptions& options, bool consume) {
    FileMetadata& metadata = ast.metadata;
    VOK_ASSIGN(std::string profile, effective_profile(metadata, options));
    if (!metadata.profile) metadata.profile = std::move(profile);

    TreeNodes nodes;
    Lowering<TreeNodes> lowering(metadata, effective_namespace(metadata, options), consume, nodes);
    std::vector<Spanned>& declarations = ast.declarations;
    std::vector<uint8_t> kinds;
    kinds.reserve(declarations.size());
    for (const Spanned& spanned : declarations)
        kinds.push_back(static_cast<uint8_t>(unwrap_export(spanned.node).index()));
    Passes<AstNode*> passes(kinds, [&](size_t i) {
        // The unwrapped node lies inside the declaration, which is ours to change.
        return &const_cast<AstNode&>(unwrap_export(declarations[i].node));
    });
    return lowering.run(passes);
}

// The AstNode index of a concrete declaration rule; nothing for any other rule.
std::optional<uint8_t> kind_of(grammar::Rule rule) {
    using grammar::Rule;
    switch (rule) {
    case Rule::entity_decl:
        return kind_index<ast::Entity>();
    case Rule::resource_decl:
        return kind_index<ast::Resource>();
    case Rule::flow_decl:
        return kind_index<ast::Flow>();
    case Rule::pattern_decl:
        return kind_index<ast::Pattern>();
    case Rule::role_decl:
        return kind_index<ast::Role>();
    case Rule::relation_decl:
        return kind_index<ast::Relation>();
    case Rule::dimension_decl:
        return kind_index<ast::Dimension>();
    case Rule::unit_decl:
        return kind_index<ast::UnitDeclaration>();
    case Rule::policy_decl:
        return kind_index<ast::Policy>();
    case Rule::instance_decl:
        return kind_index<ast::Instance>();
    case Rule::concept_change_decl:
        return kind_index<ast::ConceptChange>();
    case Rule::metric_decl:
        return kind_index<ast::Metric>();
    case Rule::mapping_decl:
        return kind_index<ast::MappingDecl>();
    case Rule::projection_decl:
        return kind_index<ast::ProjectionDecl>();
    default:
        return std::nullopt;
    }
}

// The concrete declaration inside `export` and `declaration_inner` wrappers, as
// build_declaration unwraps them; nothing where a wrapper is empty.
std::optional<grammar::DslPair> unwrap_pair(grammar::DslPair pair) {
    while (pair.rule() == grammar::Rule::export_decl ||
           pair.rule() == grammar::Rule::declaration_inner) {
        auto inner = pair.children().peek();
        if (!inner) return std::nullopt;
        pair = *inner;
    }
    return pair;
}

// The declarations sorted into their passes as the grammar reads them, each pass's records in an
// array of its own in file order: the lowering then reads each array front to back and gives it
// back as it goes, and no copy of a large tree in pass order is ever made. A text read in parts
// side by side leaves one such set of arrays per stretch read by one thread (a segment), in file
// order.
class PassSink final : public grammar::DeclarationSink {
public:
    struct Segment {
        std::array<peg::RecordBuffer<peg::PairRecord>, kPassCount> buffers;
        std::vector<uint8_t> kinds;   // each declaration's AstNode index, in file order
        std::vector<uint32_t> places; // where each declaration's pair lies in its pass's array
    };

    PassSink() : segments(1) {}

    void take(grammar::Rule rule, const peg::PairRecord* records, uint32_t count,
              uint32_t first) override {
        const auto kind = kind_of(rule);
        if (!kind) {
            refused = true;
            return;
        }
        Segment& segment = segments.back();
        segment.kinds.push_back(static_cast<uint8_t>(*kind));
        segment.places.push_back(
            peg::append_subtree(segment.buffers[pass_number(*kind)], records, count, first));
    }

    std::unique_ptr<grammar::DeclarationSink> part() override {
        return std::make_unique<PassSink>();
    }

    void join(grammar::DeclarationSink& part) override {
        auto& joined = static_cast<PassSink&>(part);
        refused = refused || joined.refused;
        for (Segment& segment : joined.segments)
            segments.push_back(std::move(segment));
        joined.segments.clear();
        // What this sink takes next follows the part.
        segments.emplace_back();
    }

    void discard() override {
        refused = false;
        std::vector<Segment>(1).swap(segments);
    }

    bool refused = false; // a declaration of no kind the lowering knows (never, in practice)
    std::vector<Segment> segments; // takes go to the last; taken away whole by the lowering
};

// From this much source on, a parse holds enough memory while it runs (several times the source,
// about six times for a typical model, most of it in small blocks) that what it frees is worth
// handing back, as a large graph's is when it is dropped (graph.h). Smaller parses leave it to
// malloc for the next one.
constexpr size_t kLargeParseBytes = size_t{8} << 20;

// State of a parse that an exception stopping it leaves to ReleaseUnlessGraph to free.
struct Leftover {
    virtual ~Leftover() = default;
};

// What a stopped parse leaves: freed when this is destroyed, and then, for a large parse, malloc's
// free lists walked.
class Leftovers {
public:
    Leftovers() = default;
    Leftovers(Leftovers&& other) noexcept
        : state_(std::move(other.state_)), trim_(std::exchange(other.trim_, false)) {}
    Leftovers& operator=(Leftovers&&) = delete;
    ~Leftovers() {
        state_.reset();
        if (trim_) trim_free_memory();
    }

    void hold(std::unique_ptr<Leftover>&& state) noexcept { state_ = std::move(state); }
    bool empty() const noexcept { return state_ == nullptr; }
    void trim_when_freed() noexcept { trim_ = true; }

private:
    std::unique_ptr<Leftover> state_;
    bool trim_ = false;
};

// Hands the memory a large parse freed back to the system when the parse ends without a graph,
// however it ends: a ParserError returned, or OperationCancelled or std::bad_alloc unwinding
// through it. A graph that is returned holds what it needs and gives it back when it is dropped.
// A parse declares it before anything else it holds, so that it hands back once all of that is
// gone.
//
// Stopped by an exception, a parse leaves its largest state here (leave) rather than freeing it
// on the way out: freeing a lowering's graph, nodes and units, and walking malloc's free lists,
// takes a good part of the time it took to build them, and the caller who pressed Ctrl-C should
// not wait for it. Both then happen where drop_elsewhere puts them.
class ReleaseUnlessGraph {
public:
    explicit ReleaseUnlessGraph(size_t source_bytes) noexcept
        : large_(source_bytes >= kLargeParseBytes), exceptions_(std::uncaught_exceptions()) {}
    ReleaseUnlessGraph(const ReleaseUnlessGraph&) = delete;
    ReleaseUnlessGraph& operator=(const ReleaseUnlessGraph&) = delete;
    ~ReleaseUnlessGraph() {
        if (std::uncaught_exceptions() > exceptions_ && (large_ || !leftovers_.empty())) {
            if (large_) {
                count_free_memory_release();
                leftovers_.trim_when_freed();
            }
            drop_elsewhere(std::move(leftovers_));
            return;
        }
        if (large_) release_free_memory();
    }

    // Hands back what has been freed so far, the parse going on.
    void release_now() const noexcept {
        if (large_) release_free_memory();
    }
    // The parse ends with `graph`: nothing to hand back.
    Graph keep(Graph&& graph) noexcept {
        large_ = false;
        return std::move(graph);
    }
    // An exception stops the parse: `state` is freed with the rest of what it leaves.
    void leave(std::unique_ptr<Leftover>&& state) noexcept { leftovers_.hold(std::move(state)); }

private:
    bool large_;
    int exceptions_;
    Leftovers leftovers_;
};

// The direct road's lowering with everything it reads: the nodes (and the workers building them),
// the passes, the file's metadata.
struct DirectLowering final : Leftover {
    DirectLowering(FileMetadata file_metadata, Passes<uint32_t> file_passes,
                   std::vector<grammar::DslTree>&& trees, const LoweringOptions& options)
        : metadata(std::move(file_metadata)), passes(std::move(file_passes)),
          nodes(std::move(trees)),
          lowering(metadata, effective_namespace(metadata, options), true, nodes) {}

    FileMetadata metadata;
    Passes<uint32_t> passes;
    PairNodes nodes;
    Lowering<PairNodes> lowering;
};

// While it lives, an exception leaving the scope stops the lowering's workers (they read the
// caller's source, which may be gone once the exception has left) and leaves the lowering to
// `release`.
class LeaveOnUnwind {
public:
    LeaveOnUnwind(std::unique_ptr<DirectLowering>& state, ReleaseUnlessGraph& release) noexcept
        : state_(state), release_(release), exceptions_(std::uncaught_exceptions()) {}
    LeaveOnUnwind(const LeaveOnUnwind&) = delete;
    LeaveOnUnwind& operator=(const LeaveOnUnwind&) = delete;
    ~LeaveOnUnwind() {
        if (std::uncaught_exceptions() <= exceptions_) return;
        state_->nodes.stop_building();
        release_.leave(std::move(state_));
    }

private:
    std::unique_ptr<DirectLowering>& state_;
    ReleaseUnlessGraph& release_;
    int exceptions_;
};

// The graph of a file's pairs, lowered straight from them: each declaration's node is built when
// its pass reads it and dropped soon after, and the pairs are given back as they are read.
// Nothing when any part of the file fails to build or lower: which failure a file reports when it
// has several is the tree road's to decide (every build failure before any lowering failure), so
// the caller then takes that road, on `tree` if it is still there.
//
// Where the compact parser read the file, `sink` holds its declarations and `tree` only the rest;
// where the rule engine did, `tree` holds everything.
std::optional<Graph> lower_pairs(std::optional<grammar::DslTree>& tree, PassSink& sink,
                                 ReleaseUnlessGraph& release) {
    FileMetadata metadata;
    const auto read_header = [&](const grammar::DslPair& header_pair) {
        FileMetadata header;
        std::vector<ImportDecl> imports;
        if (!build_file_header(header_pair, header, imports).ok()) return false;
        metadata = std::move(header);
        return true;
    };
    const LoweringOptions options;
    std::vector<grammar::DslTree> trees;
    std::optional<Passes<uint32_t>> passes;
    if (sink.complete) {
        if (sink.refused) return std::nullopt;
        for (const grammar::DslPair& top : tree->pairs())
            for (const grammar::DslPair& child : top.children())
                if (child.rule() == grammar::Rule::file_header && !read_header(child))
                    return std::nullopt;
        if (!effective_profile(metadata, options).ok()) return std::nullopt;
        // One tree per pass and segment, pass by pass, each pass's segments in file order: the
        // items of every pass then ascend, as the lowering reads them.
        std::vector<PassSink::Segment>& segments = sink.segments;
        std::vector<std::array<uint32_t, kPassCount>> bases(segments.size());
        uint32_t base = 0;
        for (size_t pass = 0; pass < kPassCount; ++pass) {
            for (size_t s = 0; s < segments.size(); ++s) {
                bases[s][pass] = base;
                base += static_cast<uint32_t>(segments[s].buffers[pass].size());
            }
        }
        std::vector<uint8_t> kinds;
        for (const PassSink::Segment& segment : segments)
            kinds.insert(kinds.end(), segment.kinds.begin(), segment.kinds.end());
        std::vector<uint32_t> items;
        items.reserve(kinds.size());
        for (size_t s = 0, i = 0; s < segments.size(); ++s) {
            for (const uint32_t place : segments[s].places)
                items.push_back(bases[s][pass_number(kinds[i++])] + place);
            std::vector<uint8_t>().swap(segments[s].kinds);
            std::vector<uint32_t>().swap(segments[s].places);
        }
        passes.emplace(kinds, [&](size_t i) { return items[i]; });
        std::vector<uint8_t>().swap(kinds);
        std::vector<uint32_t>().swap(items);
        for (size_t pass = 0; pass < kPassCount; ++pass)
            for (PassSink::Segment& segment : segments)
                trees.emplace_back(tree->input(), std::move(segment.buffers[pass]));
        segments.clear();
        tree.reset();
    } else {
        std::vector<uint8_t> kinds;
        std::vector<uint32_t> roots;
        for (const grammar::DslPair& top : tree->pairs()) {
            if (top.rule() != grammar::Rule::program) continue;
            for (const grammar::DslPair& child : top.children()) {
                if (child.rule() == grammar::Rule::file_header) {
                    if (!read_header(child)) return std::nullopt;
                } else if (child.rule() == grammar::Rule::declaration) {
                    for (const grammar::DslPair& declaration : child.children()) {
                        poll_cancellation();
                        const auto pair = unwrap_pair(declaration);
                        const auto kind = pair ? kind_of(pair->rule()) : std::nullopt;
                        if (!kind) return std::nullopt;
                        kinds.push_back(*kind);
                        roots.push_back(pair->index());
                    }
                }
            }
        }
        if (!effective_profile(metadata, options).ok()) return std::nullopt;

        // The declarations' pairs, gathered in the order the passes read them; the rest of the
        // tree (wrappers, header, other passes' order) is dropped before the graph is built. A
        // file whose passes read it front to back already (one kind of declaration, say) is read
        // where it lies: its pairs can be given back in that order as they are, and copying them
        // would cost a second array as large, written page by page.
        passes.emplace(kinds, [&](size_t i) { return roots[i]; });
        std::vector<uint8_t>().swap(kinds);
        roots.clear();
        bool in_file_order = true;
        uint32_t previous = 0;
        passes->for_each_list([&](const std::vector<uint32_t>& list) {
            for (const uint32_t item : list) {
                in_file_order = in_file_order && item >= previous;
                previous = item;
            }
        });
        if (in_file_order) {
            std::vector<uint32_t>().swap(roots);
            trees.push_back(std::move(*tree));
            tree.reset();
        } else {
            passes->for_each_list([&](const std::vector<uint32_t>& list) {
                roots.insert(roots.end(), list.begin(), list.end());
            });
            trees.push_back(tree->gather(roots));
            tree.reset();
            size_t next = 0;
            passes->for_each_list([&](std::vector<uint32_t>& list) {
                for (uint32_t& item : list)
                    item = roots[next++];
            });
            std::vector<uint32_t>().swap(roots);
        }
    }

    auto state = std::make_unique<DirectLowering>(std::move(metadata), std::move(*passes),
                                                  std::move(trees), options);
    passes.reset();
    const LeaveOnUnwind leave(state, release);
    state->nodes.build_ahead(state->passes);
    try {
        auto graph = state->lowering.run(state->passes);
        if (!graph.ok()) return std::nullopt;
        return std::move(*graph);
    } catch (const DeclarationRefused&) {
        return std::nullopt;
    }
}

std::atomic<void (*)()> tree_road_hook{nullptr};

} // namespace

ParseResult<Graph> ast_to_graph(Ast& ast, const LoweringOptions& options) {
    return lower(ast, options, false);
}

ParseResult<Graph> ast_to_graph(Ast&& ast, const LoweringOptions& options) {
    Ast owned = std::move(ast);
    return lower(owned, options, true);
}

void build_ahead_for_testing(std::optional<size_t> workers) {
    forced_workers.store(workers.value_or(kChoiceByFile), std::memory_order_relaxed);
}

void on_tree_road_for_testing(void (*hook)()) {
    tree_road_hook.store(hook, std::memory_order_relaxed);
}

ParseResult<Graph> parse_to_graph(std::string_view source) {
    ReleaseUnlessGraph release(source.size());
    std::optional<grammar::DslTree> tree;
    {
        PassSink sink;
        VOK_ASSIGN(grammar::DslTree parsed, parse_program(source, &sink));
        tree.emplace(std::move(parsed));
        if (auto graph = lower_pairs(tree, sink, release)) return release.keep(std::move(*graph));
        // A tree whose declarations went to the sink is of no use to the tree road.
        if (sink.complete) tree.reset();
    }
    // The direct road gave up: the tree road finds and words the failure. It needs memory of its
    // own, so whatever the direct road held (the sink, the pairs it read, the nodes built ahead,
    // the graph it began) is freed by now, and a large parse hands it back before going on.
    release.release_now();
    if (auto* hook = tree_road_hook.load(std::memory_order_relaxed)) hook();
    if (!tree) {
        VOK_ASSIGN(grammar::DslTree again, parse_program(source));
        tree.emplace(std::move(again));
    }
    VOK_ASSIGN(Ast ast, build_ast(std::move(*tree)));
    auto graph = ast_to_graph(std::move(ast), LoweringOptions{});
    if (!graph.ok()) return graph;
    return release.keep(std::move(*graph));
}

} // namespace vok
