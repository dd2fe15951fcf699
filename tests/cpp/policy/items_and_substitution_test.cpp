// Quantifier items and variable binding: the lazy single-key reads must give exactly what the
// built item objects hold, and substitution must shadow where the rules say and only there.
#include <gtest/gtest.h>

#include "expression/expression_text.h"
#include "policy/quantifier_items.h"
#include "policy/substitution.h"
#include "policy_builders.h"

namespace vok::testing {
namespace {

// The collection a variable names and the word an aggregation's filter binds to its items come
// from one row per kind; a row out of step with its neighbours shows here.
TEST(CollectionKinds, NamesAndItemWordsPairUp) {
    const std::pair<const char*, const char*> kinds[] = {{"flows", "flow"},
                                                         {"entities", "entity"},
                                                         {"resources", "resource"},
                                                         {"instances", "instance"},
                                                         {"relations", "relation"}};
    for (const auto& [collection, word] : kinds) {
        auto kind = collection_named(collection);
        ASSERT_TRUE(kind.has_value()) << collection;
        EXPECT_EQ(item_word(*kind), word);
    }
    for (const char* other : {"Flows", "flow", "", "items"})
        EXPECT_FALSE(collection_named(other).has_value()) << other;
}

TEST(QuantifierItems, SingleKeysAgreeWithWholeItems) {
    TestGraph t;
    t.add_flow("2.5", json::Object::from_entries(
                          {{"quantity", json::Value("shadowed")}, {"k", json::Value("v")}}));
    Role buyer = Role::make("Buyer", "default");
    Uuid buyer_id = buyer.id;
    (void)t.graph.add_role(std::move(buyer));
    Flow some_flow = t.graph.flows().begin()->second;
    (void)t.graph.add_relation(
        Relation::make("buys", "default", buyer_id, "buys", Uuid(), some_flow.id));
    (void)t.graph.add_instance(ResourceInstance::make(t.steel, t.a, "default"));
    const char* keys[] = {"id",          "name",   "namespace",   "unit",
                          "quantity",    "k",      "from_entity", "to_entity",
                          "resource",    "entity", "roles",       "subject_role",
                          "object_role", "via",    "predicate",   "nope"};
    for (const char* collection : {"flows", "entities", "resources", "instances", "relations"}) {
        auto source = collection_source(var(collection));
        ASSERT_TRUE(source.ok());
        size_t seen = 0;
        auto visited =
            for_each_item(*source, t.graph, [&](const ItemRef& item) -> Result<void, PolicyError> {
                ++seen;
                json::Value whole = item.materialize(t.graph);
                for (const char* key : keys) {
                    auto single = item.field(t.graph, key);
                    const json::Value* expected = whole.get(key);
                    EXPECT_EQ(single.has_value(), expected != nullptr) << collection << "." << key;
                    if (single && expected) {
                        EXPECT_EQ(*single, *expected) << collection << "." << key;
                    }
                }
                return Ok();
            });
        ASSERT_TRUE(visited.ok());
        EXPECT_GT(seen, 0u) << collection;
    }
    json::Value flow = flow_as_quantifier_item(some_flow);
    EXPECT_EQ(*flow.get("quantity"), json::Value::from_f64(2.5)); // the fixed key wins
    EXPECT_EQ(*flow.get("k"), json::Value("v"));
}

TEST(Substitution, ShadowingFollowsTheBinder) {
    json::Value item(json::Object::from_entries({{"q", json::Value::from_u64(7)}}));
    auto text = [&](const Expression& e) {
        return expression_text(substitute_variable(e, "x", item));
    };
    // A quantifier of the same name keeps its condition; its collection is still bound.
    EXPECT_EQ(text(forall("x", var("x.q"), member("x", "q"))),
              expression_text(forall("x", lit(json::Value::from_u64(7)), member("x", "q"))));
    // A comprehension of the same name does not shadow.
    Expression comprehension = expr::AggregationComprehension{
        AggregateFunction::Sum, "x",         Box(var("flows")), std::nullopt, Box(lit(true)),
        Box(member("x", "q")),  std::nullopt};
    EXPECT_NE(text(comprehension).find("7"), std::string::npos) << text(comprehension);
    // A missing key binds null; another variable is left alone.
    EXPECT_EQ(substitute_variable(var("x.missing"), "x", item), lit(nullptr));
    EXPECT_EQ(substitute_variable(var("xy.q"), "x", item), var("xy.q"));
    // A cast over the bound variable is computed; one that cannot be stays a cast of the value.
    EXPECT_EQ(substitute_variable(cast(var("x.q"), "kg"), "x", item), qty("7", "kg"));
    EXPECT_EQ(substitute_variable(cast(var("x.missing"), "kg"), "x", item),
              cast(lit(nullptr), "kg"));
    // A cast written over a literal is left for evaluation.
    EXPECT_EQ(substitute_variable(cast(num(1), "kg"), "x", item), cast(num(1), "kg"));
}

} // namespace
} // namespace vok::testing
