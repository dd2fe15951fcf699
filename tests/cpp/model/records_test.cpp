// Concept ids and the graph's records: ids, constructor defaults, patterns, attribute maps.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "concept_id/concept_id.h"
#include "primitives/entity.h"
#include "primitives/flow.h"
#include "primitives/instance.h"
#include "primitives/pattern.h"
#include "primitives/relation.h"
#include "primitives/resource.h"
#include "primitives/resource_instance.h"
#include "primitives/role.h"
#include "primitives/text_items.h"
#include "units/unit_registry.h"
#include "json/writer.h"

namespace vok {
namespace {

Uuid uuid(const char* text) {
    return *Uuid::parse(text);
}

int version_of(const Uuid& id) {
    return id.bytes[6] >> 4;
}

TEST(ConceptId, IsTheVersion5IdOfNamespaceAndName) {
    struct Case {
        const char* namespace_name;
        const char* name;
        const char* id;
    };
    const Case cases[] = {
        {"default", "Warehouse", "07342664-9f2f-5afc-8222-ce5de9c154bf"},
        {"default", "warehouse", "b0daca68-003a-550e-9957-3cadb8eabace"},
        {"Default", "Warehouse", "1f6ad161-2a23-5330-b84a-bfc80485c526"},
        {"", "x", "504d74d8-8fd6-52f7-81df-e72afda7ab86"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(concept_id_for(c.namespace_name, c.name).to_string(), c.id) << c.name;
    }
}

TEST(Records, NamedRecordsShareTheirConceptId) {
    const Uuid expected = uuid("07342664-9f2f-5afc-8222-ce5de9c154bf");
    Entity entity = Entity::make("Warehouse", "default");
    EXPECT_EQ(entity.id, expected);
    EXPECT_EQ(Entity::make("Warehouse", "default").id, expected);
    EXPECT_EQ(Role::make("Warehouse", "default").id, expected);
    EXPECT_EQ(Resource::make("Warehouse", unit_for_symbol("kg"), "default").id, expected);
    EXPECT_EQ(Relation::make("Warehouse", "default", Uuid::nil(), "p", Uuid::nil(), {}).id,
              expected);
    EXPECT_EQ(Pattern::make("Warehouse", "default", "x")->id, expected);

    EXPECT_EQ(entity.name, "Warehouse");
    EXPECT_EQ(entity.namespace_, "default");
    EXPECT_FALSE(entity.version.has_value());
    EXPECT_FALSE(entity.replaces.has_value());
    EXPECT_TRUE(entity.changes.empty());
    EXPECT_TRUE(entity.attributes.empty());

    // Renaming afterwards does not move the id.
    entity.name = "Depot";
    EXPECT_EQ(entity.id, expected);
}

TEST(Records, InstanceIdJoinsTypeAndNameWithOneColon) {
    Instance instance = Instance::make("n1", "Order", "shop");
    EXPECT_EQ(instance.id.to_string(), "9de77dca-8713-5cd5-84a8-c49e8a0d0e7c");
    EXPECT_EQ(instance.id, concept_id_for("shop", "Order:n1"));
    EXPECT_EQ(instance.entity_type, "Order");
    EXPECT_EQ(instance.namespace_, "shop");
    EXPECT_NE(Instance::make("n1", "Invoice", "shop").id, instance.id);
}

TEST(Records, UnnamedRecordsGetRandomIds) {
    const Uuid r = Uuid::new_v4();
    const Uuid a = Uuid::new_v4();
    const Uuid b = Uuid::new_v4();
    Flow first = Flow::make(r, a, b, *Decimal::parse("10.50"));
    Flow second = Flow::make(r, a, b, *Decimal::parse("10.50"));
    EXPECT_NE(first.id, second.id);
    EXPECT_EQ(version_of(first.id), 4);
    EXPECT_EQ(first.namespace_, "default");
    EXPECT_EQ(first.resource_id, r);
    EXPECT_EQ(first.from_id, a);
    EXPECT_EQ(first.to_id, b);
    EXPECT_EQ(first.quantity.to_string(), "10.50");

    ResourceInstance held = ResourceInstance::make(r, a, "logistics");
    EXPECT_NE(held.id, ResourceInstance::make(r, a, "logistics").id);
    EXPECT_EQ(version_of(held.id), 4);
    EXPECT_EQ(held.resource_id, r);
    EXPECT_EQ(held.entity_id, a);
    EXPECT_EQ(held.namespace_, "logistics");
}

TEST(Records, RelationArgumentOrder) {
    const Uuid subject = Uuid::new_v4();
    const Uuid object = Uuid::new_v4();
    const Uuid via = Uuid::new_v4();
    Relation relation = Relation::make("Supplies", "trade", subject, "supplies", object, via);
    EXPECT_EQ(relation.name, "Supplies");
    EXPECT_EQ(relation.namespace_, "trade");
    EXPECT_EQ(relation.subject_role_id, subject);
    EXPECT_EQ(relation.predicate, "supplies");
    EXPECT_EQ(relation.object_role_id, object);
    EXPECT_EQ(relation.via_flow_id, via);
}

TEST(Records, SettingAKeyAgainKeepsOnlyTheLastValue) {
    Entity entity = Entity::make("E", "default");
    entity.set_attribute("zeta", json::Value::from_u64(1));
    entity.set_attribute("alpha", "first");
    entity.set_attribute("alpha", json::Array{json::Value("x"), json::Value::from_i64(-2)});
    EXPECT_EQ(json::to_compact_string(entity.attributes), R"({"alpha":["x",-2],"zeta":1})");

    Instance instance = Instance::make("n1", "Order", "shop");
    instance.set_field("total", json::Value::from_f64(5.0));
    instance.set_field("total", nullptr);
    EXPECT_EQ(json::to_compact_string(instance.fields), R"({"total":null})");
}

// Records are values even where their fields share storage: a copy's namespace text is shared
// until one side is assigned, and assigning never reaches the other copies; the out-of-line
// fields copy their contents.
TEST(Records, SharedAndOutOfLineFieldsBehaveAsValues) {
    Entity original = Entity::make("Depot", "logistics");
    original.replaces = std::string("Store");
    original.changes.push_back("renamed");
    Entity copy = original;
    std::vector<Entity> many(3, original);

    copy.namespace_ = "elsewhere";
    *copy.replaces = "Shop";
    copy.changes.push_back("split");
    EXPECT_EQ(original.namespace_, "logistics");
    EXPECT_EQ(original.replaces, "Store");
    EXPECT_EQ(original.changes, (std::vector<std::string>{"renamed"}));
    EXPECT_EQ(copy.namespace_, "elsewhere");
    EXPECT_EQ(copy.replaces, "Shop");
    EXPECT_EQ(copy.changes.size(), 2u);
    for (const Entity& e : many) {
        EXPECT_EQ(e.namespace_, original.namespace_);
        EXPECT_EQ(e.replaces, original.replaces);
    }

    // Texts compare and join like the strings they stand for; the empty text is the default.
    const SharedText text("ns");
    EXPECT_TRUE(text == "ns" && text == std::string("ns") && text == std::string_view("ns"));
    EXPECT_TRUE(std::string("ns") == text && text != "n" && text < SharedText("nt"));
    EXPECT_EQ("<" + text + ">", "<ns>");
    EXPECT_EQ(std::string(text), "ns");
    EXPECT_TRUE(SharedText().empty() && SharedText() == "" && SharedText("") == SharedText());

    // Absent and empty are the defaults; reset and clear return to them.
    Entity fresh = Entity::make("A", "b");
    EXPECT_FALSE(fresh.replaces.has_value());
    EXPECT_NE(fresh.replaces, std::string(""));
    EXPECT_TRUE(fresh.changes.empty());
    copy.replaces.reset();
    copy.changes.clear();
    EXPECT_EQ(copy.replaces, fresh.replaces);
    EXPECT_EQ(copy.changes, fresh.changes);
}

TEST(TextItems, KeepsStringsInOrderAndSkipsTheRest) {
    json::Array items{json::Value("a"), json::Value::from_u64(1), json::Value(nullptr),
                      json::Value("b"), json::Value(json::Array{json::Value("nested")})};
    EXPECT_EQ(text_items(items), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(text_items({}).empty());
}

// Texts that compiled are remembered; an invalid one must be refused every time, with the same
// message, and a remembered one must still give a working pattern.
TEST(Pattern, RemembersOnlyExpressionsThatCompiled) {
    const auto first = Pattern::make("P", "default", "(unclosed");
    const auto second = Pattern::make("Q", "default", "(unclosed");
    ASSERT_FALSE(first.ok());
    ASSERT_FALSE(second.ok());
    const std::string first_text = first.error().to_string();
    const std::string second_text = second.error().to_string();
    EXPECT_EQ(second_text.substr(second_text.find(':')), first_text.substr(first_text.find(':')));
    for (int round = 0; round < 3; ++round) {
        auto pattern = Pattern::make("Code", "default", "^[A-Z]{3}-[0-9]+$");
        ASSERT_TRUE(pattern.ok());
        EXPECT_TRUE(*pattern->is_match("ABC-12"));
        EXPECT_FALSE(*pattern->is_match("abc-12"));
    }
}

TEST(Pattern, RefusesAnInvalidExpression) {
    for (const char* bad : {"[a-z", "(unclosed", "a{2,1}", "*"}) {
        auto pattern = Pattern::make("P", "default", bad);
        ASSERT_FALSE(pattern.ok()) << bad;
        const std::string prefix = "Invalid regex for pattern 'P': ";
        EXPECT_EQ(pattern.error().to_string().substr(0, prefix.size()), prefix) << bad;
        EXPECT_GT(pattern.error().to_string().size(), prefix.size()) << bad;
    }
}

TEST(Pattern, MatchesAnywhereCaseSensitivelyOverUtf8) {
    struct Case {
        const char* regex;
        const char* text;
        bool matches;
    };
    const Case cases[] = {
        {"[0-9]{3}", "order-123-x", true}, // unanchored
        {"^[0-9]{3}$", "order-123-x", false},
        {"abc", "ABC", false},
        {"(?i)abc", "ABC", true},
        {"^.$", "\xC3\xA9", true}, // one character, two bytes
        {"\\p{L}+", "\xE6\x97\xA5\xE6\x9C\xAC", true},
        {"", "anything", true},
    };
    for (const Case& c : cases) {
        auto pattern = Pattern::make("P", "default", c.regex);
        ASSERT_TRUE(pattern.ok()) << c.regex;
        EXPECT_EQ(pattern->regex, c.regex);
        auto matched = pattern->is_match(c.text);
        ASSERT_TRUE(matched.ok()) << matched.error();
        EXPECT_EQ(*matched, c.matches) << c.regex << " / " << c.text;
    }
}

TEST(Pattern, CopiesMatchIndependentlyOfLaterEdits) {
    Pattern original = *Pattern::make("Sku", "shop", "^SKU-[0-9]+$");
    Pattern copy = original;
    copy.regex = "anything else"; // what a pattern matches was fixed when it was made
    EXPECT_TRUE(*copy.is_match("SKU-42"));
    EXPECT_FALSE(*original.is_match("sku-42"));

    // The first match may come from several threads at once.
    std::vector<std::thread> threads;
    std::vector<int> results(8, -1);
    Pattern fresh = *Pattern::make("Sku", "shop", "^SKU-[0-9]+$");
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] { results[i] = *fresh.is_match("SKU-" + std::to_string(i)); });
    }
    for (auto& t : threads)
        t.join();
    for (int r : results)
        EXPECT_EQ(r, 1);
}

} // namespace
} // namespace vok
