// The CALM import: the reader's rules, every refusal, the defaults, and export-import-export.
#include "calm/import.h"

#include <cstdlib>
#include <gtest/gtest.h>

#include "calm/export.h"
#include "parser/lowering.h"
#include "json/text_deserializer.h"
#include "json/writer.h"

namespace vok::calm {
namespace {

constexpr std::string_view kMetadata = R"("metadata": {"vok:exported": true, "vok:version": "x"})";

std::string document(std::string_view nodes, std::string_view relationships = "") {
    return "{" + std::string(kMetadata) + ", \"nodes\": [" + std::string(nodes) +
           "], \"relationships\": [" + std::string(relationships) + "]}";
}

constexpr std::string_view kActorA = R"({"unique-id": "a", "node-type": "actor", "name": "A"})";
constexpr std::string_view kActorB = R"({"unique-id": "b", "node-type": "actor", "name": "B"})";
constexpr std::string_view kSteel =
    R"({"unique-id": "r", "node-type": "resource", "name": "Steel", "metadata": {"vok:unit": "kg"}})";

std::string policy_node(std::string_view metadata) {
    return R"({"unique-id": "p", "node-type": "constraint", "name": "p", "metadata": )" +
           std::string(metadata) + "}";
}

std::string flow(std::string_view source, std::string_view destination, std::string_view resource,
                 std::string_view quantity) {
    return R"({"unique-id": "f", "relationship-type": {"flow": {"resource": ")" +
           std::string(resource) + R"(", "quantity": ")" + std::string(quantity) +
           R"("}}, "parties": {"source": ")" + std::string(source) + R"(", "destination": ")" +
           std::string(destination) + R"("}})";
}

std::string import_error(const std::string& text) {
    auto graph = import_calm(text);
    if (graph.ok()) return "(imported)";
    const char* prefix =
        graph.error().kind() == CalmImportError::Kind::InvalidJson ? "json: " : "import: ";
    return prefix + graph.error().message();
}

Graph imported(const std::string& text) {
    auto graph = import_calm(text);
    EXPECT_TRUE(graph.ok()) << (graph.ok() ? "" : graph.error().message());
    return graph.ok() ? std::move(graph).value() : Graph();
}

TEST(CalmImport, Refusals) {
    const std::string instance =
        R"({"unique-id": "i", "node-type": "instance", "name": "I", "metadata": )";
    const std::pair<std::string, std::string> cases[] = {
        {"{", "json: EOF while parsing an object at line 1 column 1"},
        {"{} {}", "json: trailing characters at line 1 column 4"},
        {"{}", "import: Failed to parse CALM model: missing field `metadata` at line 1 column 2"},
        {document(R"({"unique-id": "a", "node-type": "Actor", "name": "A"})"),
         "import: Failed to parse CALM model: unknown variant `Actor`, expected one of `actor`, "
         "`location`, `resource`, `instance`, `constraint` at line 1 column 106"},
        {document(
             "",
             R"({"unique-id": "f", "relationship-type": {"flow": {"resource": "r", "quantity": 5}}, "parties": {"source": "a", "destination": "b"}})"),
         "import: Failed to parse CALM model: data did not match any variant of untagged enum "
         "RelationshipType at line 1 column 170"},
        {document(policy_node(R"({"vok:primitive": "Policy"})")),
         "import: Missing vok:expression for constraint node"},
        {document(policy_node(R"({"vok:expression": "a > 5 b"})")),
         "import: Failed to parse policy expression: Grammar error: Trailing input after "
         "expression: 'b'"},
        {document(policy_node(R"({"vok:primitive": "Pattern"})")),
         "import: Missing vok:regex for Pattern node"},
        {document(policy_node(R"({"vok:primitive": "Pattern", "vok:regex": "("})")),
         "import: Invalid pattern regex: Invalid regex for pattern 'p': missing ): ("},
        {document(instance + R"({"vok:resource_id": "r"}})"),
         "import: Missing vok:entity_id in instance metadata"},
        {document(instance + R"({"vok:entity_id": "a"}})"),
         "import: Missing vok:resource_id in instance metadata"},
        {document(instance + R"({"vok:entity_id": "x", "vok:resource_id": "r"}})"),
         "import: Unknown entity ID: x"},
        {document(std::string(kActorA) + "," + instance +
                  R"({"vok:entity_id": "a", "vok:resource_id": "a"}})"),
         "import: Resource not found"},
        {document(std::string(kActorA) + "," + std::string(kSteel), flow("x", "a", "r", "1")),
         "import: Unknown source ID: x"},
        {document(std::string(kActorA) + "," + std::string(kSteel), flow("a", "x", "r", "1")),
         "import: Unknown destination ID: x"},
        {document(std::string(kActorA) + "," + std::string(kSteel), flow("a", "a", "a", "1")),
         "import: Resource not found"},
        {document(std::string(kActorA) + "," + std::string(kSteel), flow("a", "a", "x", "1")),
         "import: Unknown resource ID: x"},
        {document(std::string(kActorA) + "," + std::string(kSteel), flow("a", "a", "r", "1e3")),
         "import: Invalid quantity '1e3': Invalid decimal: unknown character"},
        {document(std::string(kActorA) + "," + std::string(kSteel), flow("r", "a", "r", "1")),
         "import: Source entity not found"},
        {document(std::string(kActorA) + "," + std::string(kActorA)),
         "import: Entity with ID 1acf3f98-4c51-507c-b75e-c608d63645de already exists"},
        {document(
             "",
             R"({"unique-id": "f", "relationship-type": {"flow": {"resource": "r", "quantity": "1"}}, "parties": {"owner": "a", "owned": "b"}})"),
         "import: Flow relationship must have source/destination parties"},
        {document(
             "",
             R"({"unique-id": "o", "relationship-type": "ownership", "parties": {"source": "a", "destination": "b"}})"),
         "import: Ownership relationships should be modeled as Instances, not Simple "
         "relationships"},
        {document(
             "",
             R"({"unique-id": "o", "relationship-type": "association", "parties": {"owner": "a", "owned": "b"}})"),
         "import: Association relationship must have source/destination parties"},
        {document("", R"({"unique-id": "o", "relationship-type": "x", "parties": {"owner": "a"}})"),
         "import: Failed to parse CALM model: data did not match any variant of untagged enum "
         "Parties at line 1 column 158"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(import_error(text), expected) << text;
}

TEST(CalmImport, ReaderRules) {
    // The array form of records, a node type as {"name": null}, unknown members ignored, no
    // version, and a relationship type object with extra members.
    const std::string text =
        R"({"metadata": [true, "x", null], "extra": 1, "relationships": [], "nodes": [)"
        R"(["a", {"location": null}, "A", null, {"vok:attributes": {"k": 1}}],)"
        R"({"unique-id": "b", "node-type": "actor", "name": "B", "namespace": "n", "more": [1]}]})";
    const Graph graph = imported(text);
    ASSERT_EQ(graph.entities().size(), 2u);
    const Entity& a = graph.entities().begin()->second;
    EXPECT_EQ(a.namespace_, "default");
    EXPECT_EQ(json::to_compact_string(a.attributes), R"({"k":1})");
    EXPECT_EQ(std::prev(graph.entities().end())->second.namespace_, "n");

    EXPECT_EQ(import_error(document(R"({"unique-id": "a", "node-type": "actor"})")),
              "import: Failed to parse CALM model: missing field `name` at line 1 column 107");
    EXPECT_EQ(import_error(document(R"({"unique-id": "a", "node-type": "actor", "name": 1})")),
              "import: Failed to parse CALM model: invalid type: integer `1`, expected a string at "
              "line 1 column 117");
    EXPECT_EQ(import_error(R"({"metadata": {"vok:exported": true, "vok:version": "x"},)"
                           R"( "nodes": [], "nodes": [], "relationships": []})"),
              "import: Failed to parse CALM model: duplicate field `nodes` at line 1 column 77");
}

TEST(CalmImport, PolicyDefaultsAndSettings) {
    struct Case {
        const char* metadata;
        int32_t priority;
        DeonticModality modality;
        PolicyKind kind;
    };
    const Case cases[] = {
        {R"({"vok:expression": "a > 1", "vok:priority": 4294967297})", 1,
         DeonticModality::Obligation, PolicyKind::Constraint},
        {R"({"vok:expression": "a > 1", "vok:priority": -1, "vok:modality": "Permission"})", -1,
         DeonticModality::Permission, PolicyKind::Constraint},
        {R"({"vok:expression": "a > 1", "vok:priority": 2.5, "vok:modality": "prohibition"})", 0,
         DeonticModality::Obligation, PolicyKind::Constraint},
        {R"({"vok:expression": "a > 1", "vok:priority": 9223372036854775808, "vok:kind": "Derivation"})",
         0, DeonticModality::Obligation, PolicyKind::Derivation},
        {R"({"vok:expression": "a > 1", "vok:priority": "7", "vok:primitive": 3})", 0,
         DeonticModality::Obligation, PolicyKind::Constraint},
    };
    for (const Case& c : cases) {
        const Graph graph = imported(document(policy_node(c.metadata)));
        ASSERT_EQ(graph.policies().size(), 1u) << c.metadata;
        const Policy& policy = graph.policies().begin()->second;
        EXPECT_EQ(policy.priority, c.priority) << c.metadata;
        EXPECT_EQ(policy.modality, c.modality) << c.metadata;
        EXPECT_EQ(policy.kind, c.kind) << c.metadata;
        EXPECT_EQ(policy.namespace_, "default");
    }
}

TEST(CalmImport, SkippedNodesAndRelationships) {
    const Graph graph = imported(document(
        std::string(kActorA) + "," + std::string(kActorB) + "," +
            R"({"unique-id": "m", "node-type": "constraint", "name": "m", "metadata": {"vok:primitive": "Metric"}},)"
            R"({"unique-id": "e", "node-type": "constraint", "name": "e", "metadata": {"vok:primitive": "Entity"}})",
        R"({"unique-id": "x", "relationship-type": "connects", "parties": {"owner": "a", "owned": "b"}},)"
        R"({"unique-id": "y", "relationship-type": "association", "parties": {"source": "a", "destination": "b"}})"));
    EXPECT_EQ(graph.entities().size(), 2u);
    EXPECT_EQ(graph.policies().size(), 0u);
    const Entity& a = graph.entities().begin()->second;
    EXPECT_EQ(json::to_compact_string(a.attributes),
              R"({"associations":[{"target":")" + graph.find_entity_by_name("B")->to_string() +
                  R"(","type":"association"}]})");
}

TEST(CalmImport, InstancesResolveInASecondPass) {
    const std::string instance =
        R"({"unique-id": "i", "node-type": "instance", "name": "I", "namespace": "w", "metadata": {"vok:entity_id": "a", "vok:resource_id": "r", "vok:attributes": {"n": 2}}})";
    const Graph graph =
        imported(document(instance + "," + std::string(kActorA) + "," + std::string(kSteel)));
    ASSERT_EQ(graph.instances().size(), 1u);
    const ResourceInstance& held = graph.instances().begin()->second;
    EXPECT_EQ(held.entity_id, *graph.find_entity_by_name("A"));
    EXPECT_EQ(held.resource_id, *graph.find_resource_by_name("Steel"));
    EXPECT_EQ(held.namespace_, "w");
    EXPECT_EQ(json::to_compact_string(held.attributes), R"({"n":2})");
    EXPECT_EQ(graph.resources().begin()->second.unit.symbol, "kg");
}

TEST(CalmImport, LaterEqualUniqueIdReplacesTheEarlier) {
    const Graph graph = imported(document(
        std::string(kActorA) + R"(, {"unique-id": "a", "node-type": "actor", "name": "A2"},)" +
            std::string(kSteel),
        flow("a", "a", "r", "2.50")));
    ASSERT_EQ(graph.flows().size(), 1u);
    const Flow& moved = graph.flows().begin()->second;
    EXPECT_EQ(moved.from_id, *graph.find_entity_by_name("A2"));
    EXPECT_EQ(moved.quantity.to_string(), "2.50");
}

TEST(CalmImport, ExpressionTexts) {
    EXPECT_EQ(parse_calm_expression("a > 5   ")->kind(), ExpressionKind::Binary);
    EXPECT_EQ(parse_calm_expression("").error().to_string(),
              "Grammar error: Parse error: Syntax error at 1:1: expected primary_expr");
    const std::string deep = std::string(100'000, '(') + "a" + std::string(100'000, ')');
    EXPECT_EQ(parse_calm_expression(deep).error().to_string(),
              "Grammar error: Parse error: Syntax error at 1:1001: nesting too deep: more than "
              "10000 nested grammar rules");
    std::string chain = "a";
    for (int i = 0; i < 100'000; ++i)
        chain += " and a";
    EXPECT_TRUE(parse_calm_expression(chain).ok());
}

class CalmRoundTrip : public ::testing::Test {
protected:
    void SetUp() override { setenv("SOURCE_DATE_EPOCH", "1700000000", 1); }
    void TearDown() override { unsetenv("SOURCE_DATE_EPOCH"); }
};

TEST_F(CalmRoundTrip, ExportImportExportKeepsTheDslShapedPart) {
    auto graph = parse_to_graph(R"(
@namespace "shop"
Entity "A"
Entity "B"
Resource "Steel" kg
Flow "Steel" from "A" to "B" quantity 150.50
Pattern "Code" matches "^[A-Z]+$"
Policy p per Derivation Permission priority -3 as: forall f in flows: (f.quantity > 0)
Policy q as: sum(f in flows over last 7 "days" where f.resource = "Steel": f.quantity) > 5 "kg"
)");
    ASSERT_TRUE(graph.ok());
    const std::string first = json::to_pretty_string(export_calm(*graph));
    const Graph back = imported(first);
    EXPECT_EQ(json::to_pretty_string(export_calm(back)), first);
    for (const auto& [id, policy] : graph->policies())
        EXPECT_EQ(back.policies().find(id)->expression, policy.expression) << policy.name;
}

TEST_F(CalmRoundTrip, ExpressionsThatDoNotComeBack) {
    const auto flows = [] { return Expression::variable("flows"); };
    const auto positive = [] {
        return Expression::binary(BinaryOp::GreaterThan, Expression::variable("x"),
                                  Expression::literal(json::Value::from_i64(0)));
    };
    // Refused by the grammar on the way back.
    const Expression refused[] = {
        Expression::literal(*json::parse("[1, 2]")),
        Expression::aggregation(AggregateFunction::Count, flows(), std::nullopt, positive()),
        Expression::aggregation(AggregateFunction::Sum, flows(), "quantity", positive()),
        // Texts are inserted without escaping.
        Expression(expr::Cast{Box(Expression::variable("a")), "k\"g"}),
    };
    for (const Expression& e : refused) {
        Graph graph;
        ASSERT_TRUE(graph.add_policy(Policy::make("p", "default", e)).ok());
        const std::string text = json::to_pretty_string(export_calm(graph));
        EXPECT_TRUE(import_error(text).starts_with("import: Failed to parse policy expression: "))
            << text;
    }
    // Read back as a different tree.
    const Expression changed[] = {
        Expression::binary(BinaryOp::Equal, Expression::variable("x"),
                           Expression::literal(json::Value(nullptr))),
        Expression::binary(BinaryOp::Equal, Expression::variable("x"),
                           Expression::literal(json::Value::from_i64(5))),
        // The target unit comes back as a cast of the projection.
        Expression(
            expr::AggregationComprehension{AggregateFunction::Sum, "f", Box(flows()), std::nullopt,
                                           Box(Expression::literal(json::Value(true))),
                                           Box(Expression::variable("q")), std::string("t")}),
    };
    for (const Expression& e : changed) {
        Graph graph;
        ASSERT_TRUE(graph.add_policy(Policy::make("p", "default", e)).ok());
        auto back = import_calm(json::to_pretty_string(export_calm(graph)));
        ASSERT_TRUE(back.ok());
        EXPECT_NE(back->policies().begin()->second.expression, e);
    }
}

} // namespace
} // namespace vok::calm
