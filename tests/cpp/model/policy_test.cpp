// Policy records: defaults and the policy JSON reader's refusals.
#include <gtest/gtest.h>

#include "concept_id/concept_id.h"
#include "expression/expression_text.h"
#include "expression/policy.h"
#include "semantic_version/semantic_version.h"
#include "json/text_deserializer.h"

namespace vok {
namespace {

std::string policy_json(const std::string& modality = "\"Obligation\"",
                        const std::string& priority = "1", const std::string& extra = "") {
    return R"({"id":"07342664-9f2f-5afc-8222-ce5de9c154bf","name":"p","namespace":"n",)"
           R"("version":{"major":1,"minor":2,"patch":3},"expression":{"Variable":"ok"},)"
           R"("modality":)" +
           modality + R"(,"kind":"Obligation","priority":)" + priority + R"(,"tags":["a","b"])" +
           extra + "}";
}

TEST(Policy, DefaultsOfANewPolicy) {
    Policy p = Policy::make("p", "n", Expression::variable("x"));
    EXPECT_EQ(p.id, concept_id_for("n", "p"));
    EXPECT_EQ(p.version, (SemanticVersion{1, 0, 0}));
    EXPECT_EQ(p.modality, DeonticModality::Obligation);
    EXPECT_EQ(p.kind, PolicyKind::Constraint);
    EXPECT_EQ(p.priority, 0);
    EXPECT_FALSE(p.rationale.has_value());
    EXPECT_TRUE(p.tags.empty());
}

TEST(Policy, ReadsJsonKeepingTheGivenId) {
    auto p = Policy::deserialize(policy_json("\"Prohibition\"", "-1", R"(,"severity":"high")"));
    ASSERT_TRUE(p.ok()) << p.error().to_string();
    EXPECT_EQ(p->id.to_string(), "07342664-9f2f-5afc-8222-ce5de9c154bf");
    EXPECT_NE(p->id, concept_id_for("n", "p"));
    EXPECT_EQ(p->version, (SemanticVersion{1, 2, 3}));
    EXPECT_EQ(p->modality, DeonticModality::Prohibition);
    EXPECT_EQ(p->kind, PolicyKind::Obligation);
    EXPECT_EQ(p->priority, -1);
    EXPECT_FALSE(p->rationale.has_value());
    EXPECT_EQ(p->tags, (std::vector<std::string>{"a", "b"}));

    auto nulled = Policy::deserialize(policy_json("\"Permission\"", "0", R"(,"rationale":null)"));
    ASSERT_TRUE(nulled.ok());
    EXPECT_FALSE(nulled->rationale.has_value());
    auto given = Policy::deserialize(policy_json("\"Permission\"", "0", R"(,"rationale":"why")"));
    EXPECT_EQ(given->rationale, "why");
}

TEST(Policy, Refusals) {
    auto lower = Policy::deserialize(policy_json("\"obligation\""));
    ASSERT_FALSE(lower.ok());
    EXPECT_EQ(lower.error().to_string(),
              "unknown variant `obligation`, expected one of `Obligation`, `Prohibition`, "
              "`Permission` at line 1 column 168");
    auto big = Policy::deserialize(policy_json("\"Obligation\"", "2147483648"));
    ASSERT_FALSE(big.ok());
    EXPECT_EQ(big.error().to_string().substr(0, 62),
              "invalid value: integer `2147483648`, expected i32 at line 1 co");

    auto missing = Policy::deserialize(R"({"id":"07342664-9f2f-5afc-8222-ce5de9c154bf",
        "name":"p","version":[1,0,0],"expression":{"Variable":"x"},"modality":"Obligation",
        "kind":"Constraint","priority":0})");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().to_string().substr(0, 25), "missing field `namespace`");

    auto bad_id = Policy::deserialize(R"({"id":"1234"})");
    ASSERT_FALSE(bad_id.ok());
    EXPECT_EQ(bad_id.error().to_string(),
              "UUID parsing failed: invalid length: expected length 32 for simple format, found 4 "
              "at line 1 column 12");

    auto dup = Policy::deserialize(R"({"tags":[],"tags":[]})");
    ASSERT_FALSE(dup.ok());
    EXPECT_EQ(dup.error().to_string(), "duplicate field `tags` at line 1 column 17");

    auto short_array = Policy::deserialize("[\"07342664-9f2f-5afc-8222-ce5de9c154bf\"]");
    ASSERT_FALSE(short_array.ok());
    EXPECT_EQ(short_array.error().to_string(),
              "invalid length 1, expected struct Policy with 10 elements at line 1 column 40");

    auto wrong = Policy::deserialize("true");
    EXPECT_EQ(wrong.error().to_string(),
              "invalid type: boolean `true`, expected struct Policy at line 1 column 4");
}

TEST(SemanticVersionText, ParseAndItsMessages) {
    EXPECT_EQ(*SemanticVersion::parse("1.2.3"), (SemanticVersion{1, 2, 3}));
    EXPECT_EQ(*SemanticVersion::parse("0.0.0"), (SemanticVersion{0, 0, 0}));
    EXPECT_EQ(*SemanticVersion::parse("+01.2.4294967295"), (SemanticVersion{1, 2, 4294967295u}));
    const std::pair<const char*, const char*> errors[] = {
        {"1.2", "Version must be in format major.minor.patch"},
        {"1.2.3.4", "Version must be in format major.minor.patch"},
        {"1.2.3-beta.1", "Version must be in format major.minor.patch"},
        {"1..3", "Invalid minor version"},
        {"x.y.z", "Invalid major version"},
        {" 1.2.3", "Invalid major version"},
        {"1.2.4294967296", "Invalid patch version"},
        {"1.-2.3", "Invalid minor version"},
    };
    for (auto [text, message] : errors) {
        auto v = SemanticVersion::parse(text);
        ASSERT_FALSE(v.ok()) << text;
        EXPECT_EQ(v.error(), message) << text;
    }
}

TEST(SemanticVersionJson, ObjectAndArrayForms) {
    auto read = [](std::string_view t) { return json::read_document(t, &read_semantic_version); };
    EXPECT_EQ(*read("[1,4,0]"), (SemanticVersion{1, 4, 0}));
    EXPECT_EQ(*read(R"({"patch":3,"minor":2,"major":1,"x":0})"), (SemanticVersion{1, 2, 3}));
    EXPECT_EQ(read(R"({"major":2,"minor":0})").error().message(), "missing field `patch`");
    EXPECT_EQ(read("[1,2]").error().message(),
              "invalid length 2, expected struct SemanticVersion with 3 elements");
    EXPECT_EQ(read("\"1.2.3\"").error().message(),
              "invalid type: string \"1.2.3\", expected struct SemanticVersion");
}

} // namespace
} // namespace vok
