// The semantic graph: adders and their order of checks, lookups, associations, direct inserts.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "common/invariant.h"
#include "concept_id/concept_id.h"
#include "graph/graph.h"
#include "units/unit_registry.h"
#include "json/writer.h"

namespace vok {
namespace {

Decimal dec(const char* text) {
    return *Decimal::parse(text);
}

// A graph with two entities and one resource, for the reference checks.
struct Fixture {
    Graph graph;
    Uuid depot;
    Uuid shop;
    Uuid steel;

    Fixture() {
        Entity d = Entity::make("Depot", "default");
        Entity s = Entity::make("Shop", "default");
        Resource r = Resource::make("Steel", unit_for_symbol("kg"), "default");
        depot = d.id;
        shop = s.id;
        steel = r.id;
        EXPECT_TRUE(graph.add_entity(std::move(d)).ok());
        EXPECT_TRUE(graph.add_entity(std::move(s)).ok());
        EXPECT_TRUE(graph.add_resource(std::move(r)).ok());
    }
};

std::string text_of(const Result<void, GraphError>& result) {
    return result.ok() ? "ok" : result.error().to_string();
}

TEST(Graph, StartsEmptyInThreeValuedMode) {
    Graph graph;
    EXPECT_TRUE(graph.use_three_valued_logic());
    EXPECT_TRUE(graph.entities().empty());
    EXPECT_TRUE(graph.all_flows().empty());
    EXPECT_TRUE(graph.entity_roles().empty());
    graph.set_use_three_valued_logic(false);
    EXPECT_FALSE(graph.use_three_valued_logic());
}

TEST(Graph, SecondEntityWithTheSameIdIsRefused) {
    Graph graph;
    Entity first = Entity::make("Warehouse", "default");
    first.set_attribute("capacity", json::Value::from_u64(10));
    ASSERT_TRUE(graph.add_entity(first).ok());

    Entity second = Entity::make("Warehouse", "default");
    second.set_attribute("capacity", json::Value::from_u64(99));
    EXPECT_EQ(text_of(graph.add_entity(second)),
              "Entity with ID 07342664-9f2f-5afc-8222-ce5de9c154bf already exists");
    ASSERT_EQ(graph.entities().size(), 1u);
    EXPECT_EQ(graph.get_entity(first.id)->attributes, first.attributes);
}

// Reserving on a graph that already holds records keeps them, their order and their lookups, and
// later adds still refuse duplicates.
TEST(Graph, ReserveKeepsRecordsOrderAndChecks) {
    Graph graph;
    ASSERT_TRUE(graph.add_entity(Entity::make("A", "default")).ok());
    graph.reserve({.entities = 3, .flows = 2});
    ASSERT_TRUE(graph.add_entity(Entity::make("B", "default")).ok());
    graph.reserve({.entities = 1});
    EXPECT_FALSE(graph.add_entity(Entity::make("A", "default")).ok());
    ASSERT_TRUE(graph.add_entity(Entity::make("C", "default")).ok());
    std::vector<std::string> names;
    for (const Entity* entity : graph.all_entities())
        names.push_back(entity->name);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_NE(graph.get_entity(concept_id_for("default", "A")), nullptr);
    EXPECT_EQ(graph.find_entity_by_name("C"), concept_id_for("default", "C"));
}

TEST(Graph, DuplicateIdMessagesNameTheRecordKind) {
    Graph graph;
    Role role = Role::make("Buyer", "trade");
    Resource resource = Resource::make("Cash", unit_for_symbol("USD"), "trade");
    Relation relation = Relation::make("Buys", "trade", role.id, "buys", role.id, std::nullopt);
    Policy policy = Policy::make("P", "trade", Expression::literal(true));
    for (int round = 0; round < 2; ++round) {
        auto role_added = graph.add_role(role);
        auto resource_added = graph.add_resource(resource);
        auto relation_added = graph.add_relation(relation);
        auto policy_added = graph.add_policy(policy);
        if (round == 0) continue;
        EXPECT_EQ(text_of(role_added), "Role with ID " + role.id.to_string() + " already exists");
        EXPECT_EQ(text_of(resource_added),
                  "Resource with ID " + resource.id.to_string() + " already exists");
        EXPECT_EQ(text_of(relation_added),
                  "Relation with ID " + relation.id.to_string() + " already exists");
        EXPECT_EQ(text_of(policy_added),
                  "Policy with ID " + policy.id.to_string() + " already exists");
    }
    EXPECT_EQ(graph.roles().size(), 1u);
    EXPECT_EQ(graph.policies().size(), 1u);
    EXPECT_EQ(
        GraphError(GraphError::DuplicateId{RecordKind::ConceptChange, Uuid::nil()}).to_string(),
        "ConceptChange with ID 00000000-0000-0000-0000-000000000000 already exists");
}

TEST(Graph, FlowChecksInOrder) {
    Fixture f;
    const Uuid nowhere = Uuid::new_v4();
    Flow stored = Flow::make(f.steel, f.depot, f.shop, dec("5"));
    ASSERT_TRUE(f.graph.add_flow(stored).ok());

    Flow same_id_dangling = Flow::make(nowhere, nowhere, nowhere, dec("1"));
    same_id_dangling.id = stored.id;

    struct Case {
        Flow flow;
        std::string message;
    };
    const Case cases[] = {
        {same_id_dangling, "Flow with ID " + stored.id.to_string() + " already exists"},
        {Flow::make(nowhere, nowhere, nowhere, dec("1")), "Source entity not found"},
        {Flow::make(nowhere, f.depot, nowhere, dec("1")), "Target entity not found"},
        {Flow::make(nowhere, f.depot, f.shop, dec("1")), "Resource not found"},
        {Flow::make(f.steel, f.shop, f.depot, dec("1")), "ok"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(text_of(f.graph.add_flow(c.flow)), c.message);
    EXPECT_EQ(f.graph.flows().size(), 2u);
}

TEST(Graph, ResourceInstanceChecksInOrder) {
    Fixture f;
    const Uuid nowhere = Uuid::new_v4();
    ResourceInstance stored = ResourceInstance::make(f.steel, f.depot, "default");
    ASSERT_TRUE(f.graph.add_instance(stored).ok());
    ResourceInstance same_id = ResourceInstance::make(nowhere, nowhere, "default");
    same_id.id = stored.id;

    struct Case {
        ResourceInstance instance;
        std::string message;
    };
    const Case cases[] = {
        {same_id, "Instance with ID " + stored.id.to_string() + " already exists"},
        {ResourceInstance::make(nowhere, nowhere, "default"), "Entity not found"},
        {ResourceInstance::make(nowhere, f.shop, "default"), "Resource not found"},
        {ResourceInstance::make(f.steel, f.shop, "default"), "ok"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(text_of(f.graph.add_instance(c.instance)), c.message);
    EXPECT_EQ(f.graph.all_instances().size(), 2u);
}

TEST(Graph, RelationRoleIdsAreNotChecked) {
    Graph graph;
    Relation relation =
        Relation::make("Owns", "default", Uuid::new_v4(), "owns", Uuid::new_v4(), Uuid::new_v4());
    EXPECT_TRUE(graph.add_relation(relation).ok());
    ASSERT_EQ(graph.all_relations().size(), 1u);
    EXPECT_EQ(graph.all_relations()[0]->predicate, "owns");
}

TEST(Graph, PatternChecksInOrder) {
    Graph graph;
    Pattern sku = *Pattern::make("Sku", "shop", "^SKU");
    ASSERT_TRUE(graph.add_pattern(sku).ok());
    EXPECT_EQ(text_of(graph.add_pattern(sku)),
              "Pattern with ID " + sku.id.to_string() + " already exists");

    // A record whose name was changed after it was made: new id, same name and namespace.
    Pattern renamed = *Pattern::make("Other", "shop", "^X");
    renamed.name = "Sku";
    EXPECT_EQ(text_of(graph.add_pattern(renamed)),
              "Pattern 'Sku' already declared in namespace 'shop'");
    EXPECT_EQ(graph.patterns().size(), 1u);
}

TEST(Graph, NameLookupsTakeTheFirstAddedInAnyNamespace) {
    Graph graph;
    Entity north = Entity::make("Depot", "north");
    Entity south = Entity::make("Depot", "south");
    ASSERT_TRUE(graph.add_entity(south).ok());
    ASSERT_TRUE(graph.add_entity(north).ok());
    EXPECT_EQ(graph.find_entity_by_name("Depot"), south.id);
    EXPECT_EQ(graph.find_entity_by_name("depot"), std::nullopt);
    EXPECT_EQ(graph.find_entity_by_name("Dep"), std::nullopt);

    // A refused duplicate must not displace the first record.
    Entity south_again = Entity::make("Depot", "south");
    EXPECT_FALSE(graph.add_entity(south_again).ok());
    EXPECT_EQ(graph.find_entity_by_name("Depot"), south.id);

    Role buyer = Role::make("Buyer", "b");
    ASSERT_TRUE(graph.add_role(Role::make("Buyer", "a")).ok());
    ASSERT_TRUE(graph.add_role(buyer).ok());
    EXPECT_EQ(graph.find_role_by_name("Buyer"), concept_id_for("a", "Buyer"));
    EXPECT_EQ(graph.find_role_by_name("Depot"), std::nullopt); // per collection

    ASSERT_TRUE(graph.add_resource(Resource::make("Cash", unit_for_symbol("USD"), "x")).ok());
    EXPECT_EQ(graph.find_resource_by_name("Cash"), concept_id_for("x", "Cash"));
    EXPECT_EQ(graph.find_resource_by_name("Depot"), std::nullopt);
}

// The name indexes grow with the graph (no reserve here, so they rehash many times) and are copied
// with it: every name keeps answering with the first record added under it.
TEST(Graph, NameLookupsSurviveGrowthAndCopies) {
    Graph graph;
    for (int i = 0; i < 6000; ++i) {
        const std::string ns = "n" + std::to_string(i / 1500);
        const std::string name = "E" + std::to_string(i % 1500);
        ASSERT_TRUE(graph.add_entity(Entity::make(name, ns)).ok());
        ASSERT_TRUE(graph.add_role(Role::make(name, ns)).ok());
    }
    const Graph copy = graph;
    const Graph& original = graph;
    for (const Graph* g : {&original, &copy}) {
        for (int k = 0; k < 1500; k += 7) {
            const std::string name = "E" + std::to_string(k);
            EXPECT_EQ(g->find_entity_by_name(name), concept_id_for("n0", name));
            EXPECT_EQ(g->find_role_by_name(name), concept_id_for("n0", name));
        }
        EXPECT_FALSE(g->find_entity_by_name("E1500").has_value());
        EXPECT_FALSE(g->find_entity_by_name("E").has_value());
        EXPECT_FALSE(g->find_resource_by_name("E1").has_value());
    }
}

#if !defined(__SANITIZE_ADDRESS__)
long resident_kb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}

// Dropping a large graph gives its memory back: the process does not stay at the graph's size.
// (The sanitizer's allocator keeps freed memory by design, so this runs without it only.)
TEST(Graph, DroppingALargeGraphReturnsItsMemory) {
    const long before = resident_kb();
    long built = 0;
    {
        Graph graph;
        Expression chain = Expression::variable("a");
        for (int i = 0; i < 1'000'000; ++i)
            chain = Expression::binary(BinaryOp::Plus, std::move(chain), Expression::variable("a"));
        ASSERT_TRUE(graph.add_policy(Policy::make("p", "default", std::move(chain))).ok());
        built = resident_kb();
    }
    const long dropped = resident_kb();
    ASSERT_GT(built - before, 100'000); // about 190 MB of nodes
    EXPECT_LT(dropped - before, (built - before) / 4);
}
#endif

TEST(Graph, FindPatternPrefersTheNamespaceThenFallsBack) {
    Graph graph;
    ASSERT_TRUE(graph.add_pattern(*Pattern::make("Code", "alpha", "a")).ok());
    ASSERT_TRUE(graph.add_pattern(*Pattern::make("Code", "beta", "b")).ok());
    ASSERT_TRUE(graph.add_pattern(*Pattern::make("Code", "gamma", "c")).ok());

    struct Case {
        const char* name;
        const char* namespace_name;
        const char* expected_regex; // nullptr: none
    };
    const Case cases[] = {
        {"Code", "beta", "b"},      // exact match even though added later
        {"Code", "delta", "a"},     // falls back to the earliest of that name
        {"Code", "", "a"},          //
        {"code", "alpha", nullptr}, // names are case-sensitive
        {"Missing", "alpha", nullptr},
    };
    for (const Case& c : cases) {
        const Pattern* found = graph.find_pattern(c.name, c.namespace_name);
        if (c.expected_regex == nullptr) {
            EXPECT_EQ(found, nullptr) << c.name << "/" << c.namespace_name;
        } else {
            ASSERT_NE(found, nullptr) << c.name << "/" << c.namespace_name;
            EXPECT_EQ(found->regex, c.expected_regex);
        }
    }
}

TEST(Graph, ListsKeepInsertionOrder) {
    Fixture f;
    // Ids of later entities sort before earlier ones here; listing must not sort.
    std::vector<std::string> names = {"Zulu", "alpha", "Mike", "bravo", "0"};
    for (const auto& name : names)
        ASSERT_TRUE(f.graph.add_entity(Entity::make(name, "o")).ok());
    std::vector<std::string> listed;
    for (const Entity* e : f.graph.all_entities())
        listed.push_back(e->name);
    EXPECT_EQ(listed,
              (std::vector<std::string>{"Depot", "Shop", "Zulu", "alpha", "Mike", "bravo", "0"}));

    Flow a = Flow::make(f.steel, f.depot, f.shop, dec("1"));
    Flow b = Flow::make(f.steel, f.shop, f.depot, dec("2"));
    Flow c = Flow::make(f.steel, f.depot, f.depot, dec("3"));
    for (const Flow& flow : {a, b, c})
        ASSERT_TRUE(f.graph.add_flow(flow).ok());

    auto quantities = [](const std::vector<const Flow*>& flows) {
        std::vector<std::string> out;
        for (const Flow* flow : flows)
            out.push_back(flow->quantity.to_string());
        return out;
    };
    EXPECT_EQ(quantities(f.graph.flows_from(f.depot)), (std::vector<std::string>{"1", "3"}));
    EXPECT_EQ(quantities(f.graph.flows_to(f.depot)), (std::vector<std::string>{"2", "3"}));
    EXPECT_TRUE(f.graph.flows_from(Uuid::new_v4()).empty());
    EXPECT_EQ(quantities(f.graph.all_flows()), (std::vector<std::string>{"1", "2", "3"}));
}

TEST(Graph, AssociationsAppendToTheOwnersAttribute) {
    Fixture f;
    const std::string shop_id = f.shop.to_string();
    const std::string entry = R"({"target":")" + shop_id + R"(","type":"owns"})";

    ASSERT_TRUE(f.graph.add_association(f.depot, f.shop, "owns").ok());
    ASSERT_TRUE(f.graph.add_association(f.depot, f.shop, "owns").ok());
    EXPECT_EQ(
        json::to_compact_string(*f.graph.get_entity(f.depot)->attributes.find("associations")),
        "[" + entry + "," + entry + "]");
    EXPECT_TRUE(f.graph.get_entity(f.shop)->attributes.empty()); // not symmetric
}

TEST(Graph, AssociationReplacesANonArrayValue) {
    struct Case {
        json::Value existing;
    };
    const Case cases[] = {{json::Value::from_u64(7)},
                          {json::Value("text")},
                          {json::Value()},
                          {json::Value(json::Object())}};
    for (const Case& c : cases) {
        Graph graph;
        Entity owner = Entity::make("Owner", "default");
        owner.set_attribute("associations", c.existing);
        owner.set_attribute("other", true);
        Entity owned = Entity::make("Owned", "default");
        ASSERT_TRUE(graph.add_entity(owner).ok());
        ASSERT_TRUE(graph.add_entity(owned).ok());
        ASSERT_TRUE(graph.add_association(owner.id, owned.id, "has").ok());
        EXPECT_EQ(json::to_compact_string(graph.get_entity(owner.id)->attributes),
                  R"({"associations":[{"target":")" + owned.id.to_string() +
                      R"(","type":"has"}],"other":true})");
    }
}

TEST(Graph, AssociationChecksOwnerThenOwned) {
    Fixture f;
    const Uuid nowhere = Uuid::new_v4();
    EXPECT_EQ(text_of(f.graph.add_association(nowhere, nowhere, "x")), "Source entity not found");
    EXPECT_EQ(text_of(f.graph.add_association(f.depot, nowhere, "x")),
              "Destination entity not found");
    EXPECT_TRUE(f.graph.get_entity(f.depot)->attributes.empty());
}

TEST(Graph, RoleNamesOfAnyEntityAreEmpty) {
    Fixture f;
    ASSERT_TRUE(f.graph.add_role(Role::make("Buyer", "default")).ok());
    EXPECT_TRUE(f.graph.role_names_of_entity(f.depot).empty());
    EXPECT_TRUE(f.graph.role_names_of_entity(Uuid::new_v4()).empty());
}

TEST(Graph, DirectInserts) {
    Graph graph;
    ConceptChange change{
        concept_id_for("default", "Rename"), "Rename", "1.0.0", "2.0.0", "migrate", true};
    Metric metric{concept_id_for("ops", "Latency"),
                  "Latency",
                  "ops",
                  Expression::variable("latency"),
                  TimeSpan{300},
                  "ms",
                  dec("250.5"),
                  MetricSeverity::Critical,
                  std::nullopt,
                  TimeSpan{-60}};
    Mapping mapping{concept_id_for("ops", "ToCalm"),
                    "ToCalm",
                    "ops",
                    TargetFormat::Calm,
                    {MappingRule{"Entity", "Depot", "node", json::Object()}}};
    Projection projection{
        concept_id_for("ops", "Proto"), "Proto", "ops", TargetFormat::Protobuf, {}};
    Instance instance = Instance::make("n1", "Order", "shop");

    graph.insert_concept_change(change);
    graph.insert_metric(metric);
    graph.insert_mapping(mapping);
    graph.insert_projection(projection);
    graph.insert_entity_instance(instance);
    EXPECT_TRUE(graph.concept_changes().contains(change.id));
    EXPECT_EQ(*graph.metrics().find(metric.id), metric);
    EXPECT_EQ(graph.mappings().find(mapping.id)->rules.size(), 1u);
    EXPECT_EQ(display_name_of(graph.projections().find(projection.id)->target_format), "Protobuf");
    EXPECT_TRUE(graph.entity_instances().contains(instance.id));
    EXPECT_TRUE(graph.entities().empty()); // an instance is not an entity

    // The caller promised to check first; a second insert is a bug, not an input error.
    EXPECT_THROW(graph.insert_metric(metric), InvariantFailure);
    EXPECT_EQ(graph.metrics().size(), 1u);
}

} // namespace
} // namespace vok
