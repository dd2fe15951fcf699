// Wrappers of the Graph class; see graph_class.h.
//
// Every method is a thin layer over one graph operation. The order of checks is the frame's
// (bind, borrow, convert every argument) followed by the parsing of UUID texts, so a wrong Python
// type is reported before a malformed id, and the first faulty argument in parameter order wins.
#include "python/graph_class.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "expression/policy.h"
#include "parser/ast_json.h"
#include "parser/lowering.h"
#include "parser/parse_source.h"
#include "python/binding/binding.h"
#include "python/core_errors.h"
#include "python/interchange/calm_methods.h"
#include "python/interchange/protobuf_methods.h"
#include "python/policy/graph_evaluation.h"
#include "python/record_classes.h"

namespace vok::python {

namespace {

template <class R> using Collection = const IndexedMap<Uuid, R>& (Graph::*)() const;

// ---- Construction and parsing ----

constexpr Signature kNew{"Graph.__new__"};
constexpr Signature kParse{"Graph.parse", {{"source"}}};
constexpr Signature kParseToAstJson{"Graph.parse_to_ast_json", {{"source"}}};

// The schema file that the last line names is not part of this repository; the document's shape
// is described in parser/ast_json.h. The docstring is kept word for word because callers read it.
constexpr const char* kParseToAstJsonDoc =
    "Parse VOK DSL source and return AST as JSON string.\n"
    "\n"
    "This returns the Abstract Syntax Tree (AST) representation of the source,\n"
    "which preserves the exact structure and line numbers from the source file.\n"
    "Use this for tools that need to work with the raw parsed structure.\n"
    "\n"
    "For a semantic graph representation, use `Graph.parse()` instead.\n"
    "\n"
    "Args:\n"
    "    source: VOK DSL source code string\n"
    "\n"
    "Returns:\n"
    "    JSON string conforming to ast-v3.schema.json";

PyResult<Graph> new_graph(Args&) {
    return Graph();
}

// Lowering registers the file's units in the process-wide registry as it goes.
PyResult<Graph> parse(Args& args) {
    VOK_ASSIGN(std::string_view source, args.text(0));
    return core_result(parse_to_graph(source), messages::prefix::kParse);
}

// Only the syntax tree is built: nothing is lowered, so references, profiles and units are not
// checked and the unit registry is not touched.
PyResult<std::string> parse_to_ast_json(Args& args) {
    VOK_ASSIGN(std::string_view source, args.text(0));
    VOK_ASSIGN(Ast ast, core_result(parse_source(source), messages::prefix::kParse));
    return core_result(ast_to_json_document(ast, ast_json_limit_for(source.size())),
                       messages::prefix::kSerialization);
}

// ---- Adders ----

constexpr Signature kAddEntity{"Graph.add_entity", {{"entity"}}};
constexpr Signature kAddResource{"Graph.add_resource", {{"resource"}}};
constexpr Signature kAddFlow{"Graph.add_flow", {{"flow"}}};
constexpr Signature kAddInstance{"Graph.add_instance", {{"instance"}}};
constexpr Signature kAddRole{"Graph.add_role", {{"role"}}};
constexpr Signature kAddRelation{"Graph.add_relation", {{"relation"}}};
constexpr Signature kAddPolicy{"Graph.add_policy", {{"policy_json"}}};
constexpr Signature kAddAssociation{"Graph.add_association", {{"owner"}, {"owned"}, {"rel_type"}}};

// The argument object is borrowed shared only while its record is copied out.
template <class R, Result<void, GraphError> (Graph::*Add)(R), const std::string_view& Prefix>
PyResult<void> add_record(Graph& self, Args& args) {
    VOK_ASSIGN(R record, args.object<R>(0));
    return core_result((self.*Add)(std::move(record)), Prefix);
}

PyResult<void> add_policy(Graph& self, Args& args) {
    VOK_ASSIGN(std::string_view policy_json, args.text(0));
    VOK_ASSIGN(Policy policy,
               core_result(Policy::deserialize(policy_json), messages::prefix::kInvalidPolicyJson));
    return core_result(self.add_policy(std::move(policy)), messages::prefix::kAddPolicy);
}

PyResult<void> add_association(Graph& self, Args& args) {
    VOK_ASSIGN(std::string_view owner_text, args.text(0));
    VOK_ASSIGN(std::string_view owned_text, args.text(1));
    VOK_ASSIGN(std::string_view rel_type, args.text(2));
    VOK_ASSIGN(Uuid owner, parse_uuid(owner_text));
    VOK_ASSIGN(Uuid owned, parse_uuid(owned_text));
    return core_result(self.add_association(owner, owned, rel_type),
                       messages::prefix::kAddAssociation);
}

// ---- Lookups by id ----

constexpr Signature kHasEntity{"Graph.has_entity", {{"id"}}};
constexpr Signature kHasResource{"Graph.has_resource", {{"id"}}};
constexpr Signature kHasFlow{"Graph.has_flow", {{"id"}}};
constexpr Signature kHasInstance{"Graph.has_instance", {{"id"}}};
constexpr Signature kGetEntity{"Graph.get_entity", {{"id"}}};
constexpr Signature kGetResource{"Graph.get_resource", {{"id"}}};
constexpr Signature kGetFlow{"Graph.get_flow", {{"id"}}};
constexpr Signature kGetInstance{"Graph.get_instance", {{"id"}}};

PyResult<Uuid> id_argument(Args& args, std::size_t i) {
    VOK_ASSIGN(std::string_view text, args.text(i));
    return parse_uuid(text);
}

template <class R, Collection<R> Of> PyResult<bool> has_record(const Graph& self, Args& args) {
    VOK_ASSIGN(Uuid id, id_argument(args, 0));
    return (self.*Of)().contains(id);
}

template <class R, Collection<R> Of>
PyResult<std::optional<R>> get_record(const Graph& self, Args& args) {
    VOK_ASSIGN(Uuid id, id_argument(args, 0));
    const R* found = (self.*Of)().find(id);
    if (found == nullptr) return std::optional<R>();
    return std::optional<R>(*found);
}

// ---- Lookups by name ----

constexpr Signature kFindEntityByName{"Graph.find_entity_by_name", {{"name"}}};
constexpr Signature kFindResourceByName{"Graph.find_resource_by_name", {{"name"}}};
constexpr Signature kFindRoleByName{"Graph.find_role_by_name", {{"name"}}};

template <std::optional<Uuid> (Graph::*Find)(std::string_view) const>
PyResult<std::optional<std::string>> find_by_name(const Graph& self, Args& args) {
    VOK_ASSIGN(std::string_view name, args.text(0));
    std::optional<Uuid> found = (self.*Find)(name);
    if (!found) return std::optional<std::string>();
    return std::optional<std::string>(found->to_string());
}

// ---- Lists ----

constexpr Signature kFlowsFrom{"Graph.flows_from", {{"entity_id"}}};
constexpr Signature kFlowsTo{"Graph.flows_to", {{"entity_id"}}};
constexpr Signature kAllEntities{"Graph.all_entities"};
constexpr Signature kAllResources{"Graph.all_resources"};
constexpr Signature kAllFlows{"Graph.all_flows"};
constexpr Signature kAllInstances{"Graph.all_instances"};
constexpr Signature kAllRoles{"Graph.all_roles"};
constexpr Signature kAllRelations{"Graph.all_relations"};

template <class R> std::vector<R> copies(const std::vector<const R*>& records) {
    std::vector<R> result;
    result.reserve(records.size());
    for (const R* record : records)
        result.push_back(*record);
    return result;
}

template <class R, Collection<R> Of> PyResult<std::vector<R>> all_records(const Graph& self) {
    const auto& collection = (self.*Of)();
    std::vector<R> result;
    result.reserve(collection.size());
    for (const auto& entry : collection)
        result.push_back(entry.second);
    return result;
}

template <std::vector<const Flow*> (Graph::*Select)(const Uuid&) const>
PyResult<std::vector<Flow>> flows_of(const Graph& self, Args& args) {
    VOK_ASSIGN(Uuid id, id_argument(args, 0));
    return copies((self.*Select)(id));
}

// ---- Counts ----

constexpr Signature kEntityCount{"Graph.entity_count"};
constexpr Signature kResourceCount{"Graph.resource_count"};
constexpr Signature kFlowCount{"Graph.flow_count"};
constexpr Signature kInstanceCount{"Graph.instance_count"};
constexpr Signature kRoleCount{"Graph.role_count"};
constexpr Signature kRelationCount{"Graph.relation_count"};
constexpr Signature kPatternCount{"Graph.pattern_count"};

template <class R, Collection<R> Of> PyResult<std::uint64_t> count(const Graph& self) {
    return std::uint64_t((self.*Of)().size());
}

// ---- Evaluation mode ----

constexpr Signature kSetEvaluationMode{"Graph.set_evaluation_mode", {{"use_three_valued_logic"}}};
constexpr Signature kUseThreeValuedLogic{"Graph.use_three_valued_logic"};

constexpr const char* kSetEvaluationModeDoc =
    "Set the evaluation mode for policy evaluation.\n"
    "When `use_three_valued_logic` is True, policies will use three-valued logic (True, False, "
    "NULL).\n"
    "When False, policies will use strict boolean logic (True, False).";

constexpr const char* kUseThreeValuedLogicDoc =
    "Get the current evaluation mode.\n"
    "Returns True if three-valued logic is enabled, False otherwise.";

PyResult<void> set_evaluation_mode(Graph& self, Args& args) {
    VOK_ASSIGN(bool three_valued, args.flag(0));
    self.set_use_three_valued_logic(three_valued);
    return Ok();
}

PyResult<bool> use_three_valued_logic(const Graph& self) {
    return self.use_three_valued_logic();
}

// ---- Text form ----

PyResult<std::string> graph_repr(const Graph& self) {
    return "Graph(entities=" + std::to_string(self.entities().size()) +
           ", resources=" + std::to_string(self.resources().size()) +
           ", flows=" + std::to_string(self.flows().size()) +
           ", instances=" + std::to_string(self.instances().size()) + ")";
}

const MethodRow kMethods[] = {
    static_method<kParse, parse>(),
    static_method<kParseToAstJson, parse_to_ast_json>(kParseToAstJsonDoc),
    static_method<kImportCalm, import_calm_graph>(),
    exclusive_method<kAddEntity,
                     add_record<Entity, &Graph::add_entity, messages::prefix::kAddEntity>>(),
    exclusive_method<kAddResource,
                     add_record<Resource, &Graph::add_resource, messages::prefix::kAddResource>>(),
    exclusive_method<kAddFlow, add_record<Flow, &Graph::add_flow, messages::prefix::kAddFlow>>(),
    exclusive_method<kAddInstance, add_record<ResourceInstance, &Graph::add_instance,
                                              messages::prefix::kAddInstance>>(),
    exclusive_method<kAddRole, add_record<Role, &Graph::add_role, messages::prefix::kAddRole>>(),
    exclusive_method<kAddRelation,
                     add_record<Relation, &Graph::add_relation, messages::prefix::kAddRelation>>(),
    exclusive_method<kAddPolicy, add_policy>(),
    exclusive_method<kAddAssociation, add_association>(),
    method<kHasEntity, has_record<Entity, &Graph::entities>>(),
    method<kHasResource, has_record<Resource, &Graph::resources>>(),
    method<kHasFlow, has_record<Flow, &Graph::flows>>(),
    method<kHasInstance, has_record<ResourceInstance, &Graph::instances>>(),
    method<kGetEntity, get_record<Entity, &Graph::entities>>(),
    method<kGetResource, get_record<Resource, &Graph::resources>>(),
    method<kGetFlow, get_record<Flow, &Graph::flows>>(),
    method<kGetInstance, get_record<ResourceInstance, &Graph::instances>>(),
    method<kFindEntityByName, find_by_name<&Graph::find_entity_by_name>>(),
    method<kFindResourceByName, find_by_name<&Graph::find_resource_by_name>>(),
    method<kFindRoleByName, find_by_name<&Graph::find_role_by_name>>(),
    method<kFlowsFrom, flows_of<&Graph::flows_from>>(),
    method<kFlowsTo, flows_of<&Graph::flows_to>>(),
    method<kAllEntities, all_records<Entity, &Graph::entities>>(),
    method<kAllResources, all_records<Resource, &Graph::resources>>(),
    method<kAllFlows, all_records<Flow, &Graph::flows>>(),
    method<kAllInstances, all_records<ResourceInstance, &Graph::instances>>(),
    method<kAllRoles, all_records<Role, &Graph::roles>>(),
    method<kAllRelations, all_records<Relation, &Graph::relations>>(),
    method<kEntityCount, count<Entity, &Graph::entities>>(),
    method<kResourceCount, count<Resource, &Graph::resources>>(),
    method<kFlowCount, count<Flow, &Graph::flows>>(),
    method<kInstanceCount, count<ResourceInstance, &Graph::instances>>(),
    method<kRoleCount, count<Role, &Graph::roles>>(),
    method<kRelationCount, count<Relation, &Graph::relations>>(),
    method<kPatternCount, count<Pattern, &Graph::patterns>>(),
    exclusive_method<kSetEvaluationMode, set_evaluation_mode>(kSetEvaluationModeDoc),
    method<kUseThreeValuedLogic, use_three_valued_logic>(kUseThreeValuedLogicDoc),
    graph_evaluate_policy_row(),
    export_protobuf_method(),
    method<kExportCalm, export_calm_text>(),
};

} // namespace

const ClassSpec kGraphClass{.name = "Graph",
                            .layout = layout_of<Graph>(),
                            .constructor = constructor<kNew, new_graph>(),
                            .methods = kMethods,
                            .slots = {.repr = unary_slot<graph_repr>}};

} // namespace vok::python
