// The decision and trace documents: key order, optional keys, enumeration spellings, escaping;
// the unknown-handling defaults text; hashes and decision ids.
#include <gtest/gtest.h>

#include <set>

#include "authority/authority_decision.h"
#include "authority/decision_trace.h"
#include "authority/enumerations.h"
#include "authority/trace_identity.h"
#include "authority/unknown_handling.h"
#include "common/ascii.h"
#include "json/text_deserializer.h"

namespace vok::authority {
namespace {

// The three spellings of a decision come from one row each; a column out of step shows here.
TEST(FinalDecisionNames, EachRowKeepsItsSpellingsTogether) {
    struct Row {
        FinalDecision decision;
        std::string_view variant, json, outcome;
    };
    const Row rows[] = {
        {FinalDecision::Allow, "Allow", "allow", "allowed"},
        {FinalDecision::Deny, "Deny", "deny", "denied"},
        {FinalDecision::Escalate, "Escalate", "escalate", "escalated"},
        {FinalDecision::NotApplicable, "NotApplicable", "not_applicable", "not_applicable"},
        {FinalDecision::Reject, "Reject", "reject", "rejected"}};
    ASSERT_EQ(std::size(rows), kFinalDecisionNames.size());
    for (const Row& row : rows) {
        EXPECT_EQ(variant_name(row.decision), row.variant);
        EXPECT_EQ(json_name(row.decision), row.json);
        EXPECT_EQ(outcome_word(row.decision), row.outcome);
    }
}

TEST(DecisionRecord, FiveKeysThenTheHintWhenPresent) {
    AuthorityDecision d{"d1", "r1", FinalDecision::Allow, "allowed_by_p1", "d1", std::nullopt};
    EXPECT_EQ(serialize_decision_record(d),
              R"({"decision_id":"d1","request_id":"r1","final_decision":"allow",)"
              R"("reason_code":"allowed_by_p1","trace_ref":"d1"})");
    d.final_decision = FinalDecision::NotApplicable;
    d.operator_action_hint = "call ops";
    EXPECT_EQ(
        serialize_decision_record(d),
        R"({"decision_id":"d1","request_id":"r1","final_decision":"not_applicable",)"
        R"("reason_code":"allowed_by_p1","trace_ref":"d1","operator_action_hint":"call ops"})");
}

TEST(DecisionRecord, StringsAreEscapedAsJsonRequires) {
    AuthorityDecision d{"a\"b\\c", "t\t\x01\n\b\f\r", FinalDecision::Deny, "\xc3\xa9", "", {}};
    EXPECT_EQ(serialize_decision_record(d),
              "{\"decision_id\":\"a\\\"b\\\\c\",\"request_id\":\"t\\t\\u0001\\n\\b\\f\\r\","
              "\"final_decision\":\"deny\",\"reason_code\":\"\xc3\xa9\",\"trace_ref\":\"\"}");
}

TEST(DecisionTrace, EmptyTraceHasEveryKeyInOrder) {
    DecisionTrace t;
    t.decision_id = "d";
    t.final_decision = FinalDecision::NotApplicable;
    t.created_at = UtcInstant{0, 0};
    EXPECT_EQ(
        serialize_decision_trace(t),
        R"({"decision_id":"d","request_id":"","ir_hash":"","pack_hashes":[],)"
        R"("resolver_version":"","resolver_semantics_version":"","resolver_semantics_hash":"",)"
        R"("specificity_profile_id":"","specificity_profile_hash":"",)"
        R"("specificity_profile_source":"","specificity_profile_conflicts":[],)"
        R"("unknown_handling_config_hash":"","compatibility_lowering_version":"",)"
        R"("action_request_hash":"","fact_envelopes":[],"fact_trust_decisions":[],)"
        R"("derived_fact_lineage":[],"candidate_policies":[],"applicable_policies":[],)"
        R"("incomparable_policies":[],"unknown_decisions":[],)"
        R"("compatibility_lowering_decisions":[],"conflict_resolution_steps":[],)"
        R"("final_decision":"not_applicable","claim_level":"AuditBacked",)"
        R"("validation_suite_ref":null,"created_at":"1970-01-01T00:00:00+00:00"})");
}

TEST(DecisionTrace, NestedRecords) {
    DecisionTrace t;
    t.pack_hashes = {"h1", "h2"};
    t.fact_envelopes = {{"a.b", SourceClass::ManualApproval, "s", true}};
    t.fact_trust_decisions = {
        {"a", {}, SourceClass::Attested, false, "unregistered_source", std::nullopt},
        {"b", {SourceClass::RuntimeObserved}, SourceClass::RuntimeObserved, true, "trusted", "ev"}};
    t.derived_fact_lineage = {{"fx",
                               "1",
                               "h",
                               {"a", "b"},
                               {SourceClass::SystemOfRecord, SourceClass::CallerSupplied},
                               SourceClass::CallerSupplied,
                               false}};
    UnknownDecision u;
    u.policy_id = "p";
    u.unknown_handling_applied = true;
    u.unknown_modality = PolicyModality::Prohibition;
    u.unknown_default_result = FinalDecision::NotApplicable;
    u.unknown_reason = "missing";
    u.affected_fact_paths = {"x"};
    u.availability_classification = "caller_omission";
    t.unknown_decisions = {u};
    t.compatibility_lowering_decisions = {{"p", "a and b", true, std::nullopt},
                                          {"q", "c", false, "kept"}};
    t.conflict_resolution_steps = {{"modality_precedence", "p,q", "modality_rank=4"}};
    t.final_decision = FinalDecision::Escalate;
    t.claim_level = ClaimLevel::FormallyProven;
    t.validation_suite_ref = "suite";
    t.created_at = UtcInstant{1714550400, 123000000};
    const std::string text = serialize_decision_trace(t);
    auto contains = [&](const std::string& part) {
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    };
    contains(R"("pack_hashes":["h1","h2"])");
    contains(
        R"("fact_envelopes":[{"path":"a.b","source_class":"manual_approval","source_id":"s","trusted":true}])");
    contains(
        R"("fact_trust_decisions":[{"fact_path":"a","required_sources":[],"observed_source":"attested",)"
        R"("trusted":false,"reason":"unregistered_source"},{"fact_path":"b",)"
        R"("required_sources":["runtime_observed"],"observed_source":"runtime_observed",)"
        R"("trusted":true,"reason":"trusted","evidence_ref":"ev"}])");
    contains(R"("derived_fact_lineage":[{"transform_id":"fx","transform_version":"1",)"
             R"("transform_hash":"h","input_fact_paths":["a","b"],)"
             R"("input_source_classes":["system_of_record","caller_supplied"],)"
             R"("effective_trust":"caller_supplied","trust_upgrade_applied":false}])");
    contains(R"("unknown_decisions":[{"policy_id":"p","unknown_handling_applied":true,)"
             R"("unknown_modality":"Prohibition","unknown_default_result":"not_applicable",)"
             R"("unknown_reason":"missing","affected_fact_paths":["x"],"fact_source_ids":[],)"
             R"("availability_classification":"caller_omission"}])");
    contains(
        R"("compatibility_lowering_decisions":[{"policy_id":"p","original_expression":"a and b",)"
        R"("lowered":true},{"policy_id":"q","original_expression":"c","lowered":false,"reason":"kept"}])");
    contains(
        R"("conflict_resolution_steps":[{"step":"modality_precedence","policy_id":"p,q","result":"modality_rank=4"}])");
    contains(R"("final_decision":"escalate","claim_level":"FormallyProven",)"
             R"("validation_suite_ref":"suite","created_at":"2024-05-01T08:00:00.123+00:00"})");
    // The written lineage reads back as the same record.
    const size_t at = text.find(R"({"transform_id")");
    json::TextDeserializer de(std::string_view(text).substr(at));
    auto lineage = DerivedFactLineage::read(de);
    ASSERT_TRUE(lineage.ok()) << lineage.error().to_string();
    EXPECT_EQ(lineage->input_source_classes, t.derived_fact_lineage[0].input_source_classes);
}

TEST(UnknownHandling, DefaultsText) {
    UnknownHandlingConfig c;
    EXPECT_EQ(unknown_handling_defaults_text(c),
              R"({"permission":{"default":"deny"},"prohibition":{"default":"deny"},)"
              R"("obligation":{"default":"deny"},"override_":{"default":"deny"}})");
    c.obligation.default_ = FinalDecision::NotApplicable;
    c.override_.default_ = FinalDecision::Allow;
    EXPECT_EQ(unknown_handling_defaults_text(c),
              R"({"permission":{"default":"deny"},"prohibition":{"default":"deny"},)"
              R"("obligation":{"default":"not_applicable"},"override_":{"default":"allow"}})");
}

TEST(TraceIdentity, HashHexIsXxh64WithSeedZero) {
    // Reference values of XXH64 with seed 0.
    EXPECT_EQ(hash_hex(""), "ef46db3751d8e999");
    EXPECT_EQ(hash_hex("abc"), "44bc2cf5ad770999");
    EXPECT_EQ(hash_hex("[]").size(), 16u);
    EXPECT_EQ(hash_hex("[]"), hash_hex(std::string("[]")));
}

TEST(TraceIdentity, DecisionIdsAreFreshVersion4Uuids) {
    std::set<std::string> ids;
    for (int i = 0; i < 100; ++i) {
        std::string id = new_decision_id();
        ASSERT_EQ(id.size(), 36u);
        EXPECT_EQ(id[14], '4');
        EXPECT_NE(std::string("89ab").find(id[19]), std::string::npos);
        EXPECT_EQ(id, ascii_lowercase(id));
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 100u);
}

} // namespace
} // namespace vok::authority
