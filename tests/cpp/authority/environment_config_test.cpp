// Reading the authority configuration: the records, their defaults and refusals, the array forms,
// the enumeration names and the nesting limit.
#include <gtest/gtest.h>

#include <string>

#include "authority/environment_config.h"

namespace vok::authority {
namespace {

const std::string kSource =
    R"({"id":"crm","source_class":"system_of_record","allowed_paths":["customer."],)"
    R"("evidence_required":true,"signature_required":false,"max_response_latency_ms":250})";

const std::string kTransform =
    R"({"id":"fx","version":"1","hash":"h","inputs":[{"fact_path":"a","source_classes":["attested"]}],)"
    R"("output":{"fact_path":"b"},"purity":{"network_access":false,"filesystem_access":false,)"
    R"("clock_access":false,"random_access":false,"side_effects":false,"global_state_access":false},)"
    R"("determinism_tests":["t1"]})";

const std::string kUnknown =
    R"({"permission":{"default":"deny"},"prohibition":{"default":"escalate"},)"
    R"("obligation":{"default":"not_applicable"},"override_":{"default":"allow"}})";

const std::string kProfile =
    R"({"id":"p1","dimensions":["actor","resource"],"scoring_rules":{"x":[1,-2,2.5]},"hash":"ph"})";

// A configuration with every key; `replace` swaps one member's value text, `drop` removes it.
std::string config(const std::string& key = "", const std::string& value = "", bool drop = false) {
    std::pair<std::string, std::string> members[] = {
        {"resolver_semantics_version", R"("s1")"},
        {"specificity_profile", kProfile},
        {"unknown_handling", kUnknown},
        {"fact_sources", "[" + kSource + "]"},
        {"fact_transforms", "[" + kTransform + "]"},
        {"authority_packs", R"([{"id":"pk"},5])"},
        {"strict_mode", "false"},
        {"compatibility_lowering_version", R"("c1")"},
        {"resolver_version", R"("r1")"},
    };
    std::string text = "{";
    for (auto& [k, v] : members) {
        if (k == key && drop) continue;
        if (text.size() > 1) text += ",";
        text += "\"" + k + "\":" + (k == key ? value : v);
    }
    return text + "}";
}

std::string read_error(const std::string& text) {
    auto c = AuthorityEnvironmentConfig::deserialize(text);
    EXPECT_FALSE(c.ok()) << text;
    return c.ok() ? "" : c.error();
}

// The message without its position.
std::string message(const std::string& text) {
    std::string e = read_error(text);
    return e.substr(0, e.find(" at line "));
}

TEST(EnvironmentConfig, ReadsEveryRecord) {
    auto c = AuthorityEnvironmentConfig::deserialize(config());
    ASSERT_TRUE(c.ok()) << c.error();
    EXPECT_EQ(c->resolver_semantics_version, "s1");
    EXPECT_EQ(c->specificity_profile.id, "p1");
    EXPECT_EQ(c->specificity_profile.dimensions, (std::vector<std::string>{"actor", "resource"}));
    EXPECT_EQ(json::to_compact_string(c->specificity_profile.scoring_rules), R"({"x":[1,-2,2.5]})");
    EXPECT_EQ(c->unknown_handling.permission.default_, FinalDecision::Deny);
    EXPECT_EQ(c->unknown_handling.prohibition.default_, FinalDecision::Escalate);
    EXPECT_EQ(c->unknown_handling.obligation.default_, FinalDecision::NotApplicable);
    EXPECT_EQ(c->unknown_handling.override_.default_, FinalDecision::Allow);
    EXPECT_EQ(c->unknown_handling.default_for(PolicyModality::Override), FinalDecision::Allow);
    ASSERT_EQ(c->fact_sources.size(), 1u);
    const FactSource& s = c->fact_sources[0];
    EXPECT_EQ(s.id, "crm");
    EXPECT_EQ(s.source_class, SourceClass::SystemOfRecord);
    EXPECT_EQ(s.allowed_paths, std::vector<std::string>{"customer."});
    EXPECT_TRUE(s.evidence_required);
    EXPECT_FALSE(s.signature_required);
    EXPECT_EQ(s.max_response_latency_ms, 250u);
    EXPECT_FALSE(s.health_endpoint || s.credential_ref || s.schema_ref || s.owner ||
                 s.recovery_hint);
    ASSERT_EQ(c->fact_transforms.size(), 1u);
    const FactTransform& t = c->fact_transforms[0];
    EXPECT_EQ(t.inputs.at(0).source_classes, std::vector<SourceClass>{SourceClass::Attested});
    EXPECT_EQ(t.output.fact_path, "b");
    EXPECT_TRUE(t.purity.is_pure());
    EXPECT_EQ(t.determinism_tests, std::vector<std::string>{"t1"});
    ASSERT_EQ(c->authority_packs.size(), 2u);
    EXPECT_TRUE(c->authority_packs[0].is_object());
    EXPECT_TRUE(c->authority_packs[1].as_number().is_u64());
    EXPECT_FALSE(c->strict_mode);
    EXPECT_EQ(c->compatibility_lowering_version, "c1");
    EXPECT_EQ(c->resolver_version, "r1");
}

TEST(EnvironmentConfig, OptionalSourceTextsAreNoneWhenNullOrAbsent) {
    std::string with_texts =
        R"({"id":"a","source_class":"attested","allowed_paths":[],"evidence_required":false,)"
        R"("signature_required":false,"max_response_latency_ms":0,"health_endpoint":null,)"
        R"("owner":"ops","recovery_hint":"")"
        "}";
    auto c =
        AuthorityEnvironmentConfig::deserialize(config("fact_sources", "[" + with_texts + "]"));
    ASSERT_TRUE(c.ok()) << c.error();
    const FactSource& s = c->fact_sources[0];
    EXPECT_FALSE(s.health_endpoint);
    EXPECT_EQ(s.owner, "ops");
    EXPECT_EQ(s.recovery_hint, "");
    EXPECT_EQ(s.max_response_latency_ms, 0u);
}

TEST(EnvironmentConfig, RecordsInArrayForm) {
    std::string source =
        R"(["crm","system_of_record",["customer."],true,false,250,null,null,null,null,null])";
    auto c = AuthorityEnvironmentConfig::deserialize(config("fact_sources", "[" + source + "]"));
    ASSERT_TRUE(c.ok()) << c.error();
    auto object_form = AuthorityEnvironmentConfig::deserialize(config());
    EXPECT_EQ(c->fact_sources[0].allowed_paths, object_form->fact_sources[0].allowed_paths);
    EXPECT_EQ(c->fact_sources[0].max_response_latency_ms, 250u);

    auto whole = AuthorityEnvironmentConfig::deserialize(
        R"(["s",["p",[],null,"h"],[{"default":"deny"},["deny"],["deny"],["deny"]],[],[],[],true,"c","r"])");
    ASSERT_TRUE(whole.ok()) << whole.error();
    EXPECT_TRUE(whole->strict_mode);
    EXPECT_TRUE(whole->specificity_profile.scoring_rules.is_null());
}

struct Refusal {
    std::string key;
    std::string value;
    std::string message;
};

class EnvironmentConfigRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(EnvironmentConfigRefusal, NamesTheProblem) {
    const Refusal& r = GetParam();
    EXPECT_EQ(message(config(r.key, r.value)), r.message);
}

const std::string kPurityWithoutSideEffects =
    R"({"network_access":false,"filesystem_access":false,"clock_access":false,)"
    R"("random_access":false,"global_state_access":false})";

INSTANTIATE_TEST_SUITE_P(
    Values, EnvironmentConfigRefusal,
    ::testing::Values(
        Refusal{"unknown_handling",
                R"({"permission":{"default":"deny"},"prohibition":{"default":"deny"},)"
                R"("obligation":{"default":"deny"},"override":{"default":"deny"}})",
                "missing field `override_`"},
        Refusal{"unknown_handling", R"({"permission":"deny","prohibition":{"default":"deny"}})",
                "invalid type: string \"deny\", expected struct UnknownHandlingDefault"},
        Refusal{"unknown_handling", R"({"permission":{"default":"Deny"}})",
                "unknown variant `Deny`, expected one of `allow`, `deny`, `escalate`, "
                "`not_applicable`, `reject`"},
        Refusal{"fact_sources", R"([{"id":"a","source_class":"Attested"}])",
                "unknown variant `Attested`, expected one of `caller_supplied`, "
                "`runtime_observed`, `system_of_record`, `attested`, `manual_approval`, "
                "`derived`, `unknown_source`"},
        Refusal{
            "fact_sources",
            R"([{"id":"a","source_class":"attested","allowed_paths":[],"evidence_required":false,)"
            R"("signature_required":false,"max_response_latency_ms":1.5}])",
            "invalid type: floating point `1.5`, expected u64"},
        Refusal{
            "fact_sources",
            R"([{"id":"a","source_class":"attested","allowed_paths":[],"evidence_required":false,)"
            R"("signature_required":false,"max_response_latency_ms":-1}])",
            "invalid value: integer `-1`, expected u64"},
        Refusal{
            "fact_sources",
            R"([{"id":"a","source_class":"attested","allowed_paths":[],"evidence_required":false,)"
            R"("signature_required":false,"max_response_latency_ms":18446744073709551616}])",
            "invalid type: floating point `1.8446744073709552e19`, expected u64"},
        Refusal{"fact_sources", R"([["crm","attested",[],true,false,250,null,null,null,null]])",
                "invalid length 10, expected struct FactSource with 11 elements"},
        Refusal{"fact_sources", R"({"id":"a"})", "invalid type: map, expected a sequence"},
        Refusal{"fact_transforms",
                R"([{"id":"fx","version":"1","hash":"h","inputs":[],"output":[],"purity":{}}])",
                "invalid length 0, expected struct TransformOutput with 1 element"},
        Refusal{"fact_transforms",
                R"([{"id":"fx","version":"1","hash":"h","inputs":[],"output":{"fact_path":"b"},)"
                R"("purity":)" +
                    kPurityWithoutSideEffects + "}]",
                "missing field `side_effects`"},
        Refusal{"specificity_profile", R"({"id":"p","dimensions":[],"hash":"h"})",
                "missing field `scoring_rules`"},
        Refusal{"specificity_profile", R"("p")",
                "invalid type: string \"p\", expected struct SpecificityProfile"},
        Refusal{"strict_mode", "null", "invalid type: null, expected a boolean"}));

TEST(EnvironmentConfig, EveryKeyIsRequired) {
    EXPECT_EQ(message(config("strict_mode", "", true)), "missing field `strict_mode`");
    EXPECT_EQ(message(config("resolver_semantics_version", "", true)),
              "missing field `resolver_semantics_version`");
}

TEST(EnvironmentConfig, RepeatedKeyIsRefusedWithItsPosition) {
    std::string text = config();
    text.insert(text.size() - 1, R"(,"resolver_version":"r2")");
    // Reported where the repeated key ends.
    EXPECT_EQ(read_error(text),
              "duplicate field `resolver_version` at line 1 column " +
                  std::to_string(text.size() - 1 - std::string(R"(:"r2")").size()));
}

TEST(EnvironmentConfig, ProblemInsideAnObjectWinsOverAMissingKey) {
    // The bad source class comes first in text order; the missing keys are only noticed later.
    EXPECT_EQ(message(R"({"fact_sources":[{"source_class":"x"}]})"),
              "unknown variant `x`, expected one of `caller_supplied`, `runtime_observed`, "
              "`system_of_record`, `attested`, `manual_approval`, `derived`, `unknown_source`");
}

TEST(EnvironmentConfig, EnumerationsAlsoAsTaggedObjects) {
    auto c = AuthorityEnvironmentConfig::deserialize(
        config("unknown_handling",
               R"({"permission":{"default":{"deny":null}},"prohibition":{"default":"deny"},)"
               R"("obligation":{"default":"deny"},"override_":{"default":"reject"}})"));
    ASSERT_TRUE(c.ok()) << c.error();
    EXPECT_EQ(c->unknown_handling.permission.default_, FinalDecision::Deny);
    EXPECT_EQ(c->unknown_handling.override_.default_, FinalDecision::Reject);
}

TEST(EnvironmentConfig, RawValuesKeepTheLastOfARepeatedKey) {
    auto c = AuthorityEnvironmentConfig::deserialize(
        config("authority_packs", R"([{"id":"a","id":"b"}])"));
    ASSERT_TRUE(c.ok()) << c.error();
    EXPECT_EQ(json::to_compact_string(c->authority_packs[0]), R"({"id":"b"})");
}

TEST(EnvironmentConfig, TrailingTextIsRefused) {
    EXPECT_EQ(message(config() + " x"), "trailing characters");
    EXPECT_TRUE(AuthorityEnvironmentConfig::deserialize(" \n" + config() + "\t ").ok());
}

std::string nested(size_t depth, const std::string& leaf = "0") {
    return std::string(depth, '[') + leaf + std::string(depth, ']');
}

TEST(EnvironmentConfig, NestingLimitCountsTheRecordsAndSkippedValues) {
    // The configuration object and the profile are two levels; the scoring rules add the rest.
    EXPECT_TRUE(
        AuthorityEnvironmentConfig::deserialize(
            config("specificity_profile",
                   R"({"id":"p","dimensions":[],"hash":"h","scoring_rules":)" + nested(125) + "}"))
            .ok());
    EXPECT_EQ(message(config("specificity_profile",
                             R"({"id":"p","dimensions":[],"hash":"h","scoring_rules":)" +
                                 nested(126) + "}")),
              "recursion limit exceeded");
    // An unknown key's value is skipped, but its depth still counts: with the configuration
    // object, 127 levels are read and 128 refused.
    std::string skipped = config();
    skipped.insert(1, R"("extra":)" + nested(127) + ",");
    EXPECT_EQ(read_error(skipped), "recursion limit exceeded at line 1 column 136");
    skipped = config();
    skipped.insert(1, R"("extra":{"a":)" + nested(126) + "},");
    EXPECT_EQ(message(skipped), "recursion limit exceeded");
    EXPECT_TRUE(AuthorityEnvironmentConfig::deserialize(
                    config().insert(1, R"("extra":)" + nested(126) + ","))
                    .ok());
}

TEST(EnvironmentConfig, HostileInputGivesOneError) {
    std::string deep_objects;
    for (int i = 0; i < 100000; ++i)
        deep_objects += R"({"a":)";
    EXPECT_EQ(message(deep_objects), "recursion limit exceeded");
    std::string deep_skipped = config();
    deep_skipped.insert(1, R"("extra":)" + nested(100000) + ",");
    EXPECT_EQ(message(deep_skipped), "recursion limit exceeded");
    std::string big = config();
    big.insert(1, R"("extra":")" + std::string(50u << 20, 'a') + R"(",)");
    EXPECT_TRUE(AuthorityEnvironmentConfig::deserialize(big).ok());
    EXPECT_EQ(message(""), "EOF while parsing a value");
}

} // namespace
} // namespace vok::authority
