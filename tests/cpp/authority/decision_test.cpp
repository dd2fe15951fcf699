// Evaluation from the candidate policies to the stored decision: applicability, fact
// requirements, conditions and unknown handling, the resolution cascade with its steps and
// reason codes, the trace's hashes, and what a poisoned or cancelled evaluation stores.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "authority/conflict_resolution.h"
#include "authority/evaluate_request.h"
#include "authority/policy_applicability.h"
#include "authority/trace_identity.h"
#include "common/cancellation.h"
#include "environment_fixtures.h"

namespace vok::authority {
namespace {

using testing::at;
using testing::base_config;
using testing::envelope;
using testing::parse_value;
using testing::request;
using testing::source;
using testing::TestClock;
using testing::validated;

const UtcInstant kNow = at("2024-05-01T09:00:00Z");

// A configuration whose one pack holds `policies` (a JSON array text).
AuthorityEnvironmentConfig with_policies(const std::string& policies,
                                         AuthorityEnvironmentConfig c = base_config()) {
    c.authority_packs.push_back(parse_value(
        R"({"id":"pk","version":"1","semantics_version":"s1","required_specificity_profile":"p1",)"
        R"("hash":"pack-hash","policies":)" +
        policies + "}"));
    return c;
}

std::string policy(const std::string& id, const std::string& modality, int priority,
                   const std::string& applies_to = "{}", const std::string& extra = "") {
    return R"({"policy_id":")" + id + R"(","modality":")" + modality + R"(","priority":)" +
           std::to_string(priority) + R"(,"applies_to":)" + applies_to +
           R"(,"semantics_version":"s1")" + extra + "}";
}

EvaluationResult evaluate(const AuthorityEnvironment& env, const AuthorityRequest& r,
                          std::vector<FactEnvelope> facts = {}) {
    TestClock clock(kNow);
    auto result = evaluate_request(env, r, std::move(facts), clock);
    EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().to_string());
    return result.ok() ? std::move(*result)
                       : EvaluationResult{std::make_shared<DecisionTrace>(), {}};
}

std::vector<std::string> step_texts(const DecisionTrace& trace) {
    std::vector<std::string> out;
    for (const ConflictResolutionStep& s : trace.conflict_resolution_steps)
        out.push_back(s.step + "|" + s.policy_id + "|" + s.result);
    return out;
}

TEST(Applicability, StructuralKeysCompareAsJsonValues) {
    AuthorityRequest r = request();
    r.metadata = parse_value(R"({"tenant":"t1","n":1})").as_object();
    struct Case {
        const char* applies_to;
        bool candidate;
    } cases[] = {
        {R"({"tenant":"t1"})", true},
        {R"({"tenant":"t2"})", false},
        {R"({"region":null})", true},
        {R"({"actor.role":null})", true},
        {R"({"action":"read"})", true},
        {R"({"action":"write"})", false},
        {R"({"n":1})", true},
        {R"({"n":1.0})", false},
        {R"({"resource.type":"doc"})", true},
        {R"({"resource.id":null})", true},
        {R"({"actor.id":"u1","action":"read"})", true},
    };
    for (const Case& c : cases) {
        auto env = validated(with_policies("[" + policy("p", "Permission", 0, c.applies_to) + "]"));
        EXPECT_EQ(is_candidate(env.packs()[0].policies[0], r), c.candidate) << c.applies_to;
    }
}

FactRequirement requirement(std::vector<SourceClass> classes) {
    FactRequirement q;
    q.fact_path = "f";
    q.allowed_source_classes = std::move(classes);
    return q;
}

StoredFact stored(SourceClass cls, FactOrigin origin = FactOrigin::Trusted) {
    return {envelope("f", json::Value("v"), cls, "src"), origin};
}

TEST(Requirements, EachTestRefusesAFact) {
    const UtcInstant now = at("2024-05-01T08:01:00Z"); // the fact is 60 s old
    const StoredFact fact = stored(SourceClass::SystemOfRecord);
    EXPECT_TRUE(meets_requirement(requirement({SourceClass::SystemOfRecord}), fact, now));
    EXPECT_FALSE(meets_requirement(requirement({}), fact, now));
    EXPECT_FALSE(meets_requirement(requirement({SourceClass::Attested}), fact, now));

    FactRequirement q = requirement({SourceClass::SystemOfRecord});
    q.allowed_source_ids = {"other"};
    EXPECT_FALSE(meets_requirement(q, fact, now));
    q = requirement({SourceClass::SystemOfRecord});
    q.evidence_ref_required = true;
    EXPECT_FALSE(meets_requirement(q, fact, now));
    q = requirement({SourceClass::SystemOfRecord});
    q.signature_required = true;
    EXPECT_FALSE(meets_requirement(q, fact, now));

    q = requirement({SourceClass::SystemOfRecord});
    q.minimum_confidence = 0.5;
    EXPECT_FALSE(meets_requirement(q, fact, now)); // no confidence stated
    StoredFact confident = fact;
    confident.fact.confidence = 0.5;
    EXPECT_TRUE(meets_requirement(q, confident, now));
    confident.fact.confidence = std::nan("");
    EXPECT_FALSE(meets_requirement(q, confident, now));
    confident.fact.confidence = 0.9;
    q.minimum_confidence = std::nan("");
    EXPECT_FALSE(meets_requirement(q, confident, now));
}

TEST(Requirements, MaxAgeIsInclusiveAndNeverOverflows) {
    const StoredFact fact = stored(SourceClass::SystemOfRecord);
    FactRequirement q = requirement({SourceClass::SystemOfRecord});
    q.max_age = TimeDelta::make(60, 0);
    EXPECT_TRUE(meets_requirement(q, fact, at("2024-05-01T08:01:00Z")));
    EXPECT_FALSE(meets_requirement(q, fact, at("2024-05-01T08:01:01Z")));

    // Huge spans: now minus the age lies far outside any date, in either direction.
    const int64_t huge = std::numeric_limits<int64_t>::max() / 1000;
    StoredFact ancient = fact;
    ancient.fact.observed_at = UtcInstant{std::numeric_limits<int64_t>::min(), 0};
    q.max_age = TimeDelta::make(huge, 0);
    ASSERT_TRUE(q.max_age);
    EXPECT_TRUE(meets_requirement(q, ancient, UtcInstant{std::numeric_limits<int64_t>::min(), 5}));
    EXPECT_TRUE(meets_requirement(q, fact, kNow));
    q.max_age = TimeDelta::make(-huge, 0);
    EXPECT_FALSE(meets_requirement(q, fact, kNow));
}

TEST(Requirements, LineageDecidesTrustAndDerivation) {
    // An envelope whose lineage claims system_of_record stays runtime_observed.
    StoredFact claimed = stored(SourceClass::RuntimeObserved);
    claimed.fact.lineage.emplace();
    claimed.fact.lineage->effective_trust = SourceClass::SystemOfRecord;
    claimed.fact.lineage->input_source_classes = {SourceClass::Attested};
    EXPECT_FALSE(meets_requirement(requirement({SourceClass::SystemOfRecord}), claimed, kNow));

    FactRequirement q = requirement({SourceClass::RuntimeObserved, SourceClass::Derived});
    q.derived_from_source = std::vector<SourceClass>{SourceClass::Attested};
    EXPECT_TRUE(meets_requirement(q, claimed, kNow));
    q.derived_from_source = std::vector<SourceClass>{SourceClass::SystemOfRecord};
    EXPECT_FALSE(meets_requirement(q, claimed, kNow));
    EXPECT_TRUE(meets_requirement(q, stored(SourceClass::RuntimeObserved), kNow));
    EXPECT_FALSE(meets_requirement(q, stored(SourceClass::Derived), kNow));
}

const char* kRequiresTier =
    R"(,"requires_fact":[{"fact_path":"tier","allowed_source_classes":[]}])";

TEST(Evaluation, UnknownDecisionsAndApplicability) {
    AuthorityEnvironmentConfig c = base_config();
    c.unknown_handling.permission.default_ = FinalDecision::NotApplicable;
    auto env = validated(with_policies(
        "[" + policy("missing", "Permission", 0, "{}", kRequiresTier) + "," +
            policy("neq", "Prohibition", 0, "{}", R"(,"when":{"status":{"__neq":"blocked"}})") +
            "," +
            policy("fail_and_unknown", "Prohibition", 0, "{}",
                   R"(,"when":{"status":"x","gone":1})") +
            "," + policy("null_value", "Obligation", 0, "{}", R"(,"when":{"n":1})") + "]",
        c));
    for (const char* status : {"active", "blocked"}) {
        const EvaluationResult r = evaluate(
            env, request(parse_value(std::string(R"({"n":null,"status":")") + status + "\"}")));
        const DecisionTrace& t = *r.trace;
        EXPECT_EQ(t.candidate_policies,
                  (std::vector<std::string>{"missing", "neq", "fail_and_unknown", "null_value"}));
        ASSERT_EQ(t.unknown_decisions.size(), 2u);
        const UnknownDecision& missing = t.unknown_decisions[0];
        EXPECT_EQ(missing.policy_id, "missing");
        EXPECT_EQ(missing.unknown_default_result, FinalDecision::NotApplicable);
        EXPECT_EQ(missing.unknown_reason, "missing");
        EXPECT_EQ(missing.availability_classification, "caller_omission");
        EXPECT_EQ(missing.affected_fact_paths, std::vector<std::string>{"tier"});
        const UnknownDecision& null_value = t.unknown_decisions[1];
        EXPECT_EQ(null_value.policy_id, "null_value");
        EXPECT_EQ(null_value.unknown_reason, "unknown");
        EXPECT_EQ(null_value.availability_classification, "availability_failure");
        EXPECT_TRUE(null_value.affected_fact_paths.empty());
        if (std::string(status) == "active") {
            EXPECT_EQ(t.applicable_policies, (std::vector<std::string>{"neq", "null_value"}));
            EXPECT_EQ(r.decision.final_decision, FinalDecision::Deny);
        } else {
            EXPECT_EQ(t.applicable_policies, std::vector<std::string>{"null_value"});
            EXPECT_EQ(r.decision.final_decision, FinalDecision::Deny);
            EXPECT_EQ(r.decision.reason_code, "denied_by_null_value");
        }
    }
}

TEST(Resolution, CascadeStepsAndReasonCodes) {
    struct Case {
        std::string policies;
        std::vector<std::string> steps;
        FinalDecision decision;
        std::string reason;
    } cases[] = {
        {"[]", {}, FinalDecision::NotApplicable, "no_applicable_policy"},
        // An unknown permission with the default Deny is applicable and decides.
        {"[" + policy("p", "Permission", 0, "{}", kRequiresTier) + "]",
         {"single_applicable|p|Deny"},
         FinalDecision::Deny,
         "denied_by_p"},
        {"[" + policy("p", "Permission", 0, "{}", R"(,"when":{"k":2})") + "]",
         {},
         FinalDecision::NotApplicable,
         "no_applicable_policy_after_evaluation"},
        {"[" + policy("allow", "Permission", 0) + "," + policy("deny", "Prohibition", 0) + "]",
         {"modality_precedence|deny|modality_rank=4", "modality_resolved|deny|Deny"},
         FinalDecision::Deny,
         "denied_by_deny"},
        {"[" + policy("a", "Permission", 10) + "," + policy("b", "Permission", -3) + "]",
         {"modality_precedence|a,b|modality_rank=2", "priority_filter|a|priority=10",
          "highest_priority|a|Allow"},
         FinalDecision::Allow,
         "allowed_by_a"},
        {"[" + policy("x", "Permission", 0, R"({"actor.role":null})") + "," +
             policy("y", "Permission", 0, R"({"actor.role":null,"resource.type":"doc"})") + "]",
         {"modality_precedence|x,y|modality_rank=2", "priority_filter|x,y|priority=0",
          "specificity_resolved|y|Allow"},
         FinalDecision::Allow,
         "allowed_by_y"},
        {"[" + policy("x", "Override", -1, "{}", R"(,"override_spec":{"permits":"a"})") + "," +
             policy("y", "Override", -1, "{}", R"(,"override_spec":{"permits":"a"})") + "]",
         {"modality_precedence|x,y|modality_rank=5", "priority_filter|x,y|priority=-1",
          "specificity_incomparable|x,y|incomparable"},
         FinalDecision::Escalate,
         "escalated_by_x,y"},
    };
    for (const Case& c : cases) {
        AuthorityEnvironmentConfig config = base_config();
        config.specificity_profile.dimensions = {"actor", "resource"};
        auto env = validated(with_policies(c.policies, config));
        const EvaluationResult r = evaluate(env, request(parse_value(R"({"k":1})")));
        EXPECT_EQ(step_texts(*r.trace), c.steps) << c.policies;
        EXPECT_EQ(r.decision.final_decision, c.decision) << c.policies;
        EXPECT_EQ(r.decision.reason_code, c.reason) << c.policies;
    }
}

TEST(Resolution, StrictModeRefusesIncomparableSpecificity) {
    AuthorityEnvironmentConfig c = base_config();
    c.strict_mode = true;
    auto env = validated(with_policies(
        "[" + policy("x", "Permission", 0) + "," + policy("y", "Permission", 0) + "]", c));
    TestClock clock(kNow);
    auto r = evaluate_request(env, request(), {}, clock);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().to_string(),
              "[SpecificityConflict] Incomparable specificity between 'x' and 'y'");
    EXPECT_EQ(env.evidence_store().size(), 0u);
}

TEST(Resolution, DominanceLoopGoesOnAfterIIsDominated) {
    // P0 is dominated by P1, yet P0 still dominates P2 in the same pass; P1 and P2 are otherwise
    // never compared, so only P1 is left.
    auto env = validated(with_policies("[" + policy("p0", "Permission", 0, R"({"a":1})") + "," +
                                       policy("p1", "Permission", 0, R"({"a":1,"b":1})") + "," +
                                       policy("p2", "Permission", 0, R"({"zz":1})") + "]"));
    std::vector<std::string> dims = {"a", "b", "z"};
    Applicability applicability;
    for (const AuthorityPolicy& p : env.packs()[0].policies) {
        PolicyEvaluation e;
        e.policy = &p;
        applicability.evaluations.push_back(e);
        applicability.applicable.push_back(applicability.evaluations.size() - 1);
    }
    auto r = resolve_conflicts(applicability, dims, false);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->steps.back().step, "specificity_resolved");
    EXPECT_EQ(r->steps.back().policy_id, "p1");
    // Without dimensions every comparison is incomparable.
    r = resolve_conflicts(applicability, {}, false);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->steps.back().policy_id, "p0,p1,p2");
}

TEST(Resolution, ConditionDimensionCountsWhenEntries) {
    auto env = validated(with_policies(
        "[" + policy("p", "Permission", 0, R"({"actor.role":"x"})", R"(,"when":{"a":1,"b":2})") +
        "]"));
    const std::vector<std::string> dimensions = {"actor", "condition", "condition"};
    const SpecificityScores s = specificity_scores(env.packs()[0].policies[0], dimensions);
    EXPECT_EQ(s[0].second, 1u);
    EXPECT_EQ(s[1].second, 2u);
    EXPECT_EQ(s[2].second, 0u);
    EXPECT_EQ(dimension_score(s, "condition"), 2u);
    EXPECT_EQ(dimension_score(s, "nothing"), 0u);
}

TEST(Trace, IdentifiersHashesAndFactEnvelopes) {
    AuthorityEnvironmentConfig c = base_config();
    c.fact_sources.push_back(source("crm", SourceClass::SystemOfRecord, {"customer."}));
    auto env = validated(c);
    AuthorityRequest r = request(parse_value(R"({"x":1})"));
    r.resource.id = "d1";
    r.resource.attributes = parse_value(R"({"z":[1],"b":{"c":true}})").as_object();
    std::vector<FactEnvelope> facts = {
        envelope("customer.tier", json::Value("gold"), SourceClass::SystemOfRecord, "crm")};
    TestClock clock(kNow, 1);
    auto result = evaluate_request(env, r, facts, clock);
    ASSERT_TRUE(result.ok());
    const DecisionTrace& t = *result->trace;
    EXPECT_EQ(t.ir_hash, hash_hex("[]"));
    EXPECT_EQ(action_request_text(r),
              R"(r1:u1:read:{"id":"d1","type":"doc","b":{"c":true},"z":[1]})");
    EXPECT_EQ(t.action_request_hash, hash_hex(action_request_text(r)));
    EXPECT_EQ(t.resolver_semantics_hash, hash_hex("s1"));
    EXPECT_EQ(t.unknown_handling_config_hash,
              hash_hex(R"({"permission":{"default":"deny"},"prohibition":{"default":"deny"},)"
                       R"("obligation":{"default":"deny"},"override_":{"default":"deny"}})"));
    EXPECT_EQ(t.specificity_profile_source, "environment");
    ASSERT_EQ(t.fact_envelopes.size(), 2u);
    EXPECT_FALSE(t.fact_envelopes[0].trusted);
    EXPECT_TRUE(t.fact_envelopes[1].trusted);
    EXPECT_EQ(result->decision.trace_ref, t.decision_id);
    EXPECT_EQ(result->decision.reason_code, "no_applicable_policy");
    // One reading for the facts, one fresh reading for the trace.
    EXPECT_EQ(clock.readings, 2);
    EXPECT_EQ(t.created_at.seconds, kNow.seconds + 1);
    ASSERT_EQ(env.evidence_store().size(), 1u);
    EXPECT_EQ(env.evidence_store().traces()[0]->decision_id, t.decision_id);
}

TEST(Persistence, PoisonedStoreRefusesOnlyAllow) {
    auto env = validated(
        with_policies("[" + policy("allow", "Permission", 0, R"({"action":"read"})") + "," +
                      policy("deny", "Prohibition", 0, R"({"action":"write"})") + "]"));
    env.evidence_store().poison();
    AuthorityRequest write = request();
    write.operation = "write";
    EXPECT_EQ(evaluate(env, write).decision.final_decision, FinalDecision::Deny);
    TestClock clock(kNow);
    auto r = evaluate_request(env, request(), {}, clock);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().to_string(),
              "[TracePersistenceFailure] Trace persistence failed: Cannot confirm high-impact "
              "decision without trace persistence");
    EXPECT_TRUE(r.error().retryable());
    EXPECT_EQ(env.evidence_store().size(), 0u);
}

TEST(Persistence, StoringTheTraceAsksForCancellationFirst) {
    auto env = validated(with_policies("[" + policy("allow", "Permission", 0) + "]"));
    TestClock clock(kNow);
    auto decided = decide_request(env, request(), {}, clock);
    ASSERT_TRUE(decided.ok());
    EXPECT_EQ(env.evidence_store().size(), 0u);
    {
        const CancellationScope stop([](void*) { return true; }, nullptr);
        EXPECT_THROW((void)store_trace(env, *decided), OperationCancelled);
    }
    EXPECT_EQ(env.evidence_store().size(), 0u);
    ASSERT_TRUE(store_trace(env, *decided).ok());
    EXPECT_EQ(env.evidence_store().traces().front(), decided->trace);
}

// Stopped at each consultation of the check in turn: the evaluation stops with nothing stored,
// or (asked to stop only after its last consultation) stores its trace once.
TEST(Persistence, AnEvaluationStoppedAnywhereStoresNothing) {
    auto env = validated(with_policies("[" + policy("allow", "Permission", 0) + "]"));
    std::vector<FactEnvelope> facts;
    for (int i = 0; i < 3000; ++i) {
        facts.push_back(envelope("customer.k" + std::to_string(i), json::Value(i),
                                 SourceClass::SystemOfRecord, "crm"));
    }
    struct Countdown {
        int left;
    };
    size_t stopped = 0;
    for (int stop_at = 1;; ++stop_at) {
        Countdown countdown{stop_at};
        const size_t before = env.evidence_store().size();
        TestClock clock(kNow);
        try {
            const CancellationScope scope(
                [](void* c) { return --static_cast<Countdown*>(c)->left == 0; }, &countdown);
            ASSERT_TRUE(evaluate_request(env, request(), facts, clock).ok());
        } catch (const OperationCancelled&) {
            ++stopped;
            EXPECT_EQ(env.evidence_store().size(), before) << stop_at;
            continue;
        }
        EXPECT_EQ(env.evidence_store().size(), before + 1);
        break;
    }
    // Resolving the facts polls per fact, and storing asks once more.
    EXPECT_GE(stopped, facts.size() / kCancellationPollInterval + 1);
}

} // namespace
} // namespace vok::authority
