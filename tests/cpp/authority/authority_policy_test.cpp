// Reading policies from a pack's parsed JSON value: defaults, refusals in key order, the array
// forms, modality names and the time span of `max_age`.
#include <gtest/gtest.h>

#include <string>

#include "authority/authority_policy.h"
#include "json/text_deserializer.h"

namespace vok::authority {
namespace {

Result<std::vector<AuthorityPolicy>, std::string> read_policies(const std::string& text) {
    auto value = json::parse(text);
    EXPECT_TRUE(value.ok()) << text;
    return AuthorityPolicy::from_value_list(*value);
}

// A one-policy list whose policy object gets `members` after the required keys.
std::string one_policy(const std::string& members = "",
                       const std::string& required =
                           R"("policy_id":"p1","modality":"Permission","priority":10,)"
                           R"("applies_to":{"action":"read"},"semantics_version":"s1")") {
    return "[{" + required + (members.empty() ? "" : "," + members) + "}]";
}

std::string read_error(const std::string& text) {
    auto p = read_policies(text);
    EXPECT_FALSE(p.ok()) << text;
    return p.ok() ? "" : p.error();
}

TEST(AuthorityPolicy, DefaultsOfAMinimalPolicy) {
    auto p = read_policies(one_policy());
    ASSERT_TRUE(p.ok()) << p.error();
    ASSERT_EQ(p->size(), 1u);
    const AuthorityPolicy& policy = (*p)[0];
    EXPECT_EQ(policy.policy_id, "p1");
    EXPECT_EQ(policy.modality, PolicyModality::Permission);
    EXPECT_EQ(policy.priority, 10);
    EXPECT_EQ(json::to_compact_string(json::Value(policy.applies_to.predicates)),
              R"({"action":"read"})");
    EXPECT_FALSE(policy.when);
    EXPECT_TRUE(policy.requires_fact.empty());
    EXPECT_FALSE(policy.override_spec || policy.obligation_spec || policy.description ||
                 policy.evidence_ref);
}

TEST(AuthorityPolicy, ConditionsAndSpecs) {
    auto p = read_policies(one_policy(
        R"("when":{"risk":{"__neq":"high"},"n":1},"override_spec":null,)"
        R"("obligation_spec":{"action":"notify"},"description":"d","evidence_ref":null)"));
    ASSERT_TRUE(p.ok()) << p.error();
    const AuthorityPolicy& policy = (*p)[0];
    ASSERT_TRUE(policy.when);
    EXPECT_EQ(json::to_compact_string(json::Value(policy.when->predicates)),
              R"({"n":1,"risk":{"__neq":"high"}})");
    EXPECT_FALSE(policy.override_spec);
    ASSERT_TRUE(policy.obligation_spec);
    EXPECT_EQ(policy.obligation_spec->action, "notify");
    EXPECT_FALSE(policy.obligation_spec->deadline);
    EXPECT_EQ(policy.description, "d");
    EXPECT_FALSE(policy.evidence_ref);

    auto empty_when = read_policies(one_policy(R"("when":{})"));
    ASSERT_TRUE(empty_when.ok());
    ASSERT_TRUE((*empty_when)[0].when);
    EXPECT_TRUE((*empty_when)[0].when->predicates.empty());
    auto null_when = read_policies(one_policy(R"("when":null)"));
    ASSERT_TRUE(null_when.ok());
    EXPECT_FALSE((*null_when)[0].when);
}

TEST(AuthorityPolicy, RequirementDefaultsAndValues) {
    auto p = read_policies(
        one_policy(R"("requires_fact":[{"fact_path":"a","allowed_source_classes":[]},)"
                   R"({"fact_path":"b","allowed_source_classes":["attested",{"derived":null}],)"
                   R"("allowed_source_ids":["s"],"max_age":[300,0],"evidence_ref_required":true,)"
                   R"("signature_required":true,"minimum_confidence":1,"required_transform":"t@1",)"
                   R"("derived_from_source":["system_of_record"]}])"));
    ASSERT_TRUE(p.ok()) << p.error();
    const auto& reqs = (*p)[0].requires_fact;
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_TRUE(reqs[0].allowed_source_classes.empty());
    EXPECT_TRUE(reqs[0].allowed_source_ids.empty());
    EXPECT_FALSE(reqs[0].max_age || reqs[0].minimum_confidence || reqs[0].required_transform ||
                 reqs[0].derived_from_source);
    EXPECT_FALSE(reqs[0].evidence_ref_required || reqs[0].signature_required);
    EXPECT_EQ(reqs[1].allowed_source_classes,
              (std::vector<SourceClass>{SourceClass::Attested, SourceClass::Derived}));
    EXPECT_EQ(reqs[1].max_age, (TimeDelta{300, 0}));
    EXPECT_EQ(reqs[1].minimum_confidence, 1.0);
    EXPECT_TRUE(reqs[1].evidence_ref_required && reqs[1].signature_required);
    EXPECT_EQ(reqs[1].derived_from_source, std::vector<SourceClass>{SourceClass::SystemOfRecord});
}

TEST(AuthorityPolicy, ArrayForms) {
    auto p = read_policies(
        R"([["p1",{"Override":null},-3,{},null,[["a",["attested"],[],null,false,false,null,null,null]],"s1",["x"],["act",null],null,null]])");
    ASSERT_TRUE(p.ok()) << p.error();
    const AuthorityPolicy& policy = (*p)[0];
    EXPECT_EQ(policy.modality, PolicyModality::Override);
    EXPECT_EQ(policy.priority, -3);
    EXPECT_EQ(policy.override_spec->permits, "x");
    EXPECT_EQ(policy.obligation_spec->action, "act");
    EXPECT_EQ(policy.requires_fact.at(0).fact_path, "a");

    EXPECT_EQ(read_error(R"([["p1","Permission",1,{},null,[],"s1",null,null,null]])"),
              "invalid length 10, expected struct AuthorityPolicy with 11 elements");
    EXPECT_EQ(read_error(R"([["p1","Permission",1,{},null,[],"s1",null,null,null,null,null]])"),
              "invalid length 12, expected fewer elements in array");
    EXPECT_EQ(read_error(one_policy(R"("override_spec":[])")),
              "invalid length 0, expected struct OverrideSpec with 1 element");
    EXPECT_EQ(read_error(one_policy(R"("obligation_spec":["a"])")),
              "invalid length 1, expected struct ObligationSpec with 2 elements");
}

struct Refusal {
    std::string members;
    std::string message;
};

class AuthorityPolicyRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(AuthorityPolicyRefusal, NamesTheProblem) {
    EXPECT_EQ(read_error(one_policy(GetParam().members)), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Values, AuthorityPolicyRefusal,
    ::testing::Values(
        Refusal{R"("requires_fact":null)", "invalid type: null, expected a sequence"},
        Refusal{R"("requires_fact":[{"fact_path":"a"}])", "missing field `allowed_source_classes`"},
        Refusal{R"("requires_fact":[{"fact_path":"a","allowed_source_classes":null}])",
                "invalid type: null, expected a sequence"},
        Refusal{
            R"("requires_fact":[{"fact_path":"a","allowed_source_classes":[],"evidence_ref_required":null}])",
            "invalid type: null, expected a boolean"},
        Refusal{R"("requires_fact":[{"fact_path":"a","allowed_source_classes":[],"max_age":60}])",
                "invalid type: integer `60`, expected a tuple of size 2"},
        Refusal{R"("requires_fact":[{"fact_path":"a","allowed_source_classes":[],"max_age":[60]}])",
                "invalid length 1, expected a tuple of size 2"},
        Refusal{
            R"("requires_fact":[{"fact_path":"a","allowed_source_classes":[],"max_age":[60,0,0]}])",
            "invalid length 3, expected a tuple of size 2"},
        Refusal{
            R"("requires_fact":[{"fact_path":"a","allowed_source_classes":[],"max_age":[60.5,0]}])",
            "invalid type: floating point `60.5`, expected i64"},
        Refusal{
            R"("requires_fact":[{"fact_path":"a","allowed_source_classes":[],"max_age":[9223372036854775808,0]}])",
            "invalid value: integer `9223372036854775808`, expected i64"},
        Refusal{
            R"("requires_fact":[{"fact_path":"a","allowed_source_classes":[],"max_age":[60,2147483648]}])",
            "invalid value: integer `2147483648`, expected i32"},
        Refusal{
            R"("requires_fact":[{"fact_path":"a","allowed_source_classes":[],"max_age":[60,1000000000]}])",
            "TimeDelta out of bounds"},
        Refusal{
            R"("requires_fact":[{"fact_path":"a","allowed_source_classes":[],"max_age":[60,-1]}])",
            "TimeDelta out of bounds"},
        Refusal{
            R"("requires_fact":[{"fact_path":"a","allowed_source_classes":[],"minimum_confidence":"x"}])",
            "invalid type: string \"x\", expected f64"},
        Refusal{R"("obligation_spec":{"deadline":"d"})", "missing field `action`"},
        Refusal{R"("override_spec":{})", "missing field `permits`"},
        Refusal{R"("when":[])", "invalid type: sequence, expected struct ConditionPredicates"}));

TEST(AuthorityPolicy, RequiredKeysAndTheirValues) {
    EXPECT_EQ(read_error(R"([{"policy_id":"p","priority":1,"applies_to":{}}])"),
              "missing field `modality`");
    EXPECT_EQ(
        read_error(
            R"([{"policy_id":"p","modality":"Permission","priority":1,"semantics_version":"s"}])"),
        "missing field `applies_to`");
    EXPECT_EQ(
        read_error(one_policy(
            "",
            R"("policy_id":"p","modality":"Permission","priority":1,"applies_to":null,"semantics_version":"s")")),
        "invalid type: null, expected struct StructuralPredicates");
    EXPECT_EQ(read_error(one_policy("", R"("policy_id":"p","modality":"permission")")),
              "unknown variant `permission`, expected one of `Permission`, `Prohibition`, "
              "`Obligation`, `Override`");
    EXPECT_EQ(read_error(one_policy("", R"("policy_id":"p","modality":{})")),
              "invalid value: map, expected map with a single key");
    EXPECT_EQ(read_error(one_policy("", R"("policy_id":"p","modality":{"Override":1})")),
              "invalid type: integer `1`, expected unit");
    EXPECT_EQ(read_error(one_policy("", R"("policy_id":"p","modality":3)")),
              "invalid type: integer `3`, expected string or map");
    EXPECT_EQ(
        read_error(one_policy("", R"("policy_id":"p","modality":"Permission","priority":10.0)")),
        "invalid type: floating point `10.0`, expected i32");
    EXPECT_EQ(read_error(one_policy(
                  "", R"("policy_id":"p","modality":"Permission","priority":2147483648)")),
              "invalid value: integer `2147483648`, expected i32");
    EXPECT_EQ(read_error(R"({"policy_id":"p"})"), "invalid type: map, expected a sequence");
    EXPECT_EQ(read_error(R"([5])"), "invalid type: integer `5`, expected struct AuthorityPolicy");
}

TEST(AuthorityPolicy, KeysAreVisitedInByteOrder) {
    // Both values are bad; "modality" sorts before "priority" whatever the text's order.
    EXPECT_EQ(read_error(R"([{"priority":"x","modality":"bad"}])"),
              "unknown variant `bad`, expected one of `Permission`, `Prohibition`, "
              "`Obligation`, `Override`");
    // A repeated key keeps its last value: no duplicate error.
    EXPECT_TRUE(read_policies(one_policy(R"("description":5,"description":"d")")).ok());
}

TEST(AuthorityPolicy, EmptyListGivesNoPolicies) {
    auto p = read_policies("[]");
    ASSERT_TRUE(p.ok());
    EXPECT_TRUE(p->empty());
}

TEST(TimeDelta, Bounds) {
    EXPECT_TRUE(TimeDelta::make(9223372036854775, 807000000));
    EXPECT_TRUE(TimeDelta::make(-9223372036854776, 193000000));
    EXPECT_FALSE(TimeDelta::make(9223372036854775, 807000001));
    EXPECT_FALSE(TimeDelta::make(-9223372036854776, 192999999));
    EXPECT_FALSE(TimeDelta::make(INT64_MAX, 0));
    EXPECT_FALSE(TimeDelta::make(INT64_MIN, 0));
    EXPECT_FALSE(TimeDelta::make(0, 1000000000));
    EXPECT_EQ(TimeDelta::make(-1, 5), (TimeDelta{-1, 5}));
}

TEST(TimeDelta, ReadAtTheBounds) {
    auto requirement = [](const std::string& max_age) {
        return one_policy(
            R"("requires_fact":[{"fact_path":"a","allowed_source_classes":[],"max_age":)" +
            max_age + "}]");
    };
    EXPECT_TRUE(read_policies(requirement("[9223372036854775,807000000]")).ok());
    EXPECT_TRUE(read_policies(requirement("[-9223372036854776,193000000]")).ok());
    EXPECT_EQ(read_error(requirement("[9223372036854775,807000001]")), "TimeDelta out of bounds");
    EXPECT_EQ(read_error(requirement("[-9223372036854776,192999999]")), "TimeDelta out of bounds");
    auto none = read_policies(requirement("null"));
    ASSERT_TRUE(none.ok());
    EXPECT_FALSE((*none)[0].requires_fact[0].max_age);
}

} // namespace
} // namespace vok::authority
