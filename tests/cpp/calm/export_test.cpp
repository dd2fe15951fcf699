// The CALM export: node order and contents, mapping rules and projection overrides, flow and
// association relationships, the stamp, and the printed key order.
#include "calm/export.h"

#include <cstdlib>
#include <gtest/gtest.h>

#include "parser/lowering.h"
#include "json/text_deserializer.h"
#include "json/writer.h"

namespace vok::calm {
namespace {

class CalmExport : public ::testing::Test {
protected:
    void SetUp() override { setenv("SOURCE_DATE_EPOCH", "0", 1); }
    void TearDown() override { unsetenv("SOURCE_DATE_EPOCH"); }

    static Graph parsed(std::string_view source) {
        auto graph = parse_to_graph(source);
        EXPECT_TRUE(graph.ok()) << (graph.ok() ? "" : graph.error().to_string());
        return std::move(graph).value();
    }

    static Mapping calm_mapping(std::vector<MappingRule> rules) {
        return Mapping{Uuid::new_v4(), "m", "default", TargetFormat::Calm, std::move(rules)};
    }

    static json::Object fields(std::string_view json_text) {
        return json::parse(json_text)->as_object();
    }

    static const CalmNode& node_named(const CalmModel& model, std::string_view name) {
        for (const CalmNode& node : model.nodes) {
            if (node.name == name) return node;
        }
        ADD_FAILURE() << "no node " << name;
        return model.nodes.front();
    }
};

TEST_F(CalmExport, FindMappingRuleIgnoresCaseOfTheTypeOnly) {
    const std::vector<MappingRule> rules = {
        {"entity", "Depot", "Node", {}},
        {"ENTITY", "Depot", "Other", {}},
        {"Entity", "depot", "Node", {}},
    };
    EXPECT_EQ(find_mapping_rule(rules, "Entity", "Depot"), &rules[0]);
    EXPECT_EQ(find_mapping_rule(rules, "Entity", "depot"), &rules[2]);
    EXPECT_EQ(find_mapping_rule(rules, "Entity", "DEPOT"), nullptr);
    EXPECT_EQ(find_mapping_rule(rules, "Flow", "Depot"), nullptr);
}

TEST_F(CalmExport, MappedNodeTypes) {
    const std::pair<const char*, CalmNodeType> cases[] = {
        {R"({"node_type": "LOCATION"})", CalmNodeType::Location},
        {R"({"node_type": "Constraint"})", CalmNodeType::Constraint},
        {R"({"node_type": "system"})", CalmNodeType::Actor},
        {R"({"node_type": 3})", CalmNodeType::Actor},
        {R"({})", CalmNodeType::Actor},
    };
    for (const auto& [rule_fields, expected] : cases) {
        Graph graph = parsed("Entity \"Depot\"\n");
        graph.insert_mapping(calm_mapping({{"entity", "Depot", "Node", fields(rule_fields)}}));
        EXPECT_EQ(build_calm_model(graph).nodes.at(0).node_type, expected) << rule_fields;
    }
}

TEST_F(CalmExport, RuleMetadataThenFirstProjectionOverride) {
    Graph graph = parsed("Entity \"Depot\"\nEntity \"Shop\"\n");
    graph.insert_mapping(calm_mapping(
        {{"Entity", "Depot", "Node",
          fields(R"({"metadata": {"vok:primitive": "Site", "tier": 1, "zone": "a"}})")},
         {"Entity", "Shop", "Node", fields(R"({"metadata": "not an object"})")}}));
    graph.insert_projection(Projection{Uuid::new_v4(),
                                       "p",
                                       "default",
                                       TargetFormat::Calm,
                                       {{"entity", "Depot", fields(R"({"zone": "b"})")},
                                        {"Entity", "Depot", fields(R"({"late": true})")}}});
    // Mappings and projections for other formats are not consulted.
    graph.insert_mapping(
        Mapping{Uuid::new_v4(),
                "kg",
                "default",
                TargetFormat::Kg,
                {{"Entity", "Shop", "N", fields(R"({"node_type": "location"})")}}});
    const CalmModel model = build_calm_model(graph);
    EXPECT_EQ(json::to_compact_string(node_named(model, "Depot").metadata),
              R"({"tier":1,"vok:attributes":{},"vok:primitive":"Site","zone":"b"})");
    EXPECT_EQ(json::to_compact_string(node_named(model, "Shop").metadata),
              R"({"vok:attributes":{},"vok:primitive":"Entity"})");
    EXPECT_EQ(node_named(model, "Shop").node_type, CalmNodeType::Actor);
}

TEST_F(CalmExport, NodesComeInRecordKindOrder) {
    const CalmModel model = build_calm_model(parsed(R"(
Policy p as: a > 1
Metric "m" as: count(flows)
Pattern "P" matches "^x$"
Resource "Steel" kg
Entity "Mill"
)"));
    std::vector<std::string> names;
    for (const CalmNode& node : model.nodes)
        names.push_back(node.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Mill", "Steel", "P", "m", "p"}));
    // A metric without options has exactly its three keys.
    EXPECT_EQ(json::to_compact_string(node_named(model, "m").metadata),
              R"x({"vok:expression":"count(flows)","vok:metric_type":"Metric",)x"
              R"("vok:primitive":"Metric"})");
}

TEST_F(CalmExport, MetricOptions) {
    const CalmModel model = build_calm_model(parsed(R"(
Metric "m" as: count(flows)
    @refresh_interval 90 "minutes"
    @unit "kg"
    @threshold 12.50
    @severity "critical"
    @target 10
    @window 2 "days"
)"));
    EXPECT_EQ(json::to_compact_string(model.nodes.at(0).metadata),
              R"x({"vok:expression":"count(flows)","vok:metric_type":"Metric",)x"
              R"("vok:primitive":"Metric","vok:refresh_interval":5400,"vok:severity":"Critical",)"
              R"("vok:target":"10","vok:threshold":"12.50","vok:unit":"kg","vok:window":172800})");
}

TEST_F(CalmExport, FlowRelationships) {
    Graph graph = parsed(R"(
Entity "A"
Entity "B"
Resource "Steel" kg
Resource "Cash" USD
Flow "Steel" from "A" to "B" quantity 150.50
Flow "Steel" from "A" to "B" quantity 3
Flow "Cash" from "B" to "A" quantity 1
)");
    CalmModel model = build_calm_model(graph);
    ASSERT_EQ(model.relationships.size(), 3u);
    const auto& first = model.relationships[0];
    EXPECT_EQ(first.unique_id, model.relationships[1].unique_id);
    EXPECT_NE(first.unique_id, model.relationships[2].unique_id);
    const auto& details = std::get<FlowDetails>(first.relationship_type);
    EXPECT_EQ(details.quantity, "150.50");
    const auto& parties = std::get<SourceDestination>(first.parties);
    EXPECT_EQ(first.unique_id,
              flow_relationship_id(details.resource, parties.source, parties.destination));
    EXPECT_EQ(parties.source, graph.find_entity_by_name("A")->to_string());

    graph.insert_mapping(
        calm_mapping({{"flow", "Steel", "R", fields(R"({"relationship_type": "Flow"})")},
                      {"Flow", "Cash", "R", fields(R"({"relationship_type": "flow"})")}}));
    model = build_calm_model(graph);
    EXPECT_EQ(std::get<std::string>(model.relationships[0].relationship_type), "Flow");
    EXPECT_TRUE(std::holds_alternative<FlowDetails>(model.relationships[2].relationship_type));
}

TEST_F(CalmExport, FlowIdIsSha256OfTheJoinedIds) {
    EXPECT_EQ(flow_relationship_id("r", "s", "t"),
              "flow-59c0cb38145255709d99cb3755b55fbf6f0fd39b475b598c2dfc1cac1895c3ed");
}

TEST_F(CalmExport, AssociationsFollowFlows) {
    Graph graph;
    Entity c = Entity::make("C", "default");
    c.set_attribute("associations", *json::parse(R"([{"type": "uses", "target": 7}, "x"])"));
    ASSERT_TRUE(graph.add_entity(c).ok());
    Entity d = Entity::make("D", "default");
    d.set_attribute("associations", json::Value("not a list"));
    ASSERT_TRUE(graph.add_entity(d).ok());
    ASSERT_TRUE(graph.add_entity(Entity::make("A", "default")).ok());
    ASSERT_TRUE(graph.add_entity(Entity::make("B", "default")).ok());
    const Uuid a = *graph.find_entity_by_name("A");
    const Uuid b = *graph.find_entity_by_name("B");
    ASSERT_TRUE(graph.add_association(a, b, "owns").ok());
    const CalmModel model = build_calm_model(graph);
    ASSERT_EQ(model.relationships.size(), 1u);
    EXPECT_EQ(model.relationships[0].unique_id, "assoc-" + a.to_string() + "-" + b.to_string());
    EXPECT_EQ(std::get<std::string>(model.relationships[0].relationship_type), "owns");
}

TEST_F(CalmExport, PrintedFormIsSortedAndReproducible) {
    const Graph graph = parsed("Entity \"A\"\n");
    const std::string text = json::to_pretty_string(export_calm(graph));
    EXPECT_EQ(text, json::to_pretty_string(export_calm(graph)));
    EXPECT_NE(text.find(R"("vok:timestamp": "1970-01-01T00:00:00+00:00")"), std::string::npos);
    const size_t positions[] = {text.find("\"metadata\": {\n        \"vok:attributes\""),
                                text.find("\"name\": \"A\""),
                                text.find("\"namespace\""),
                                text.find("\"node-type\""),
                                text.find("\"unique-id\""),
                                text.find("\"relationships\": []"),
                                text.find("\"version\"")};
    for (size_t i = 1; i < std::size(positions); ++i)
        EXPECT_LT(positions[i - 1], positions[i]) << i;
    EXPECT_NE(text.back(), '\n');
}

TEST_F(CalmExport, UnusableEpochFallsBackToTheClock) {
    setenv("SOURCE_DATE_EPOCH", " 1700000000", 1);
    const CalmModel model = build_calm_model(Graph());
    ASSERT_TRUE(model.metadata.timestamp.has_value());
    EXPECT_TRUE(model.metadata.timestamp->ends_with("+00:00"));
    EXPECT_FALSE(model.metadata.timestamp->starts_with("2023-11-14T22:13:20"));
    setenv("SOURCE_DATE_EPOCH", "+1700000000", 1);
    EXPECT_EQ(build_calm_model(Graph()).metadata.timestamp, "2023-11-14T22:13:20+00:00");
}

} // namespace
} // namespace vok::calm
