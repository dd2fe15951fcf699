// Derived facts: the transform key, missing inputs, the trust order and the weakest input, the
// derived value, expiry and confidence, lineage, where derived facts go in the store, and the
// trust class of an envelope whose lineage claims more than its source is trusted with.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "authority/fact_resolver.h"
#include "authority/transform.h"
#include "environment_fixtures.h"
#include "json/writer.h"

namespace vok::authority {
namespace {

using testing::at;
using testing::base_config;
using testing::envelope;
using testing::make_transform;
using testing::parse_value;
using testing::request;
using testing::source;
using testing::TestClock;

const UtcInstant kNow = at("2024-05-01T09:00:00Z");

FactStore store_of(std::vector<FactEnvelope> facts) {
    FactStore store;
    for (FactEnvelope& f : facts)
        store.append(std::move(f), FactOrigin::Trusted);
    return store;
}

FactEnvelope fact(const char* path, SourceClass cls) {
    return envelope(path, json::Value(path), cls, "src");
}

DerivedFact derive(const FactTransform& t, const FactStore& store) {
    TestClock clock(kNow);
    auto derived = derive_fact(t, store, clock);
    EXPECT_TRUE(derived.has_value());
    return derived ? std::move(*derived) : DerivedFact{};
}

TEST(DeriveFact, EffectiveTrustIsTheWeakestInput) {
    struct Case {
        std::vector<SourceClass> inputs;
        SourceClass effective;
    } cases[] = {
        {{SourceClass::SystemOfRecord}, SourceClass::SystemOfRecord},
        {{SourceClass::Attested, SourceClass::CallerSupplied}, SourceClass::CallerSupplied},
        {{SourceClass::RuntimeObserved, SourceClass::Derived}, SourceClass::Derived},
        {{SourceClass::UnknownSource, SourceClass::ManualApproval}, SourceClass::UnknownSource},
        {{}, SourceClass::UnknownSource},
    };
    for (const Case& c : cases) {
        std::vector<FactEnvelope> facts;
        std::vector<std::string> input_paths;
        for (size_t i = 0; i < c.inputs.size(); ++i) {
            input_paths.push_back("in" + std::to_string(i));
            facts.push_back(
                envelope(input_paths.back(), json::Value::from_u64(i), c.inputs[i], "src"));
        }
        DerivedFact d = derive(make_transform("fx", "1", input_paths, "out"), store_of(facts));
        EXPECT_EQ(d.lineage.effective_trust, c.effective);
        EXPECT_EQ(d.lineage.input_source_classes, c.inputs);
        EXPECT_EQ(d.lineage.input_fact_paths, input_paths);
        EXPECT_EQ(d.fact.lineage->effective_trust, c.effective);
    }
}

TEST(DeriveFact, ValueLineageAndEnvelope) {
    FactStore store =
        store_of({fact("a", SourceClass::Attested), fact("b", SourceClass::Attested)});
    DerivedFact one = derive(make_transform("fx", "2", {"a"}, "out"), store);
    EXPECT_EQ(one.fact.value, json::Value("a")); // a single input's value, not an array
    DerivedFact two = derive(make_transform("fx", "2", {"b", "a"}, "out"), store);
    EXPECT_EQ(json::to_compact_string(two.fact.value), R"(["b","a"])");
    DerivedFact none = derive(make_transform("fx", "2", {}, "out"), store);
    EXPECT_EQ(json::to_compact_string(none.fact.value), "[]");

    EXPECT_EQ(two.fact.path, "out");
    EXPECT_EQ(two.fact.source_class, SourceClass::Derived);
    EXPECT_EQ(two.fact.source_id, "fx@2");
    EXPECT_EQ(two.fact.observed_at, kNow);
    EXPECT_FALSE(two.fact.evidence_ref || two.fact.signature || two.fact.expires_at ||
                 two.fact.confidence);
    EXPECT_EQ(two.lineage.transform_id, "fx");
    EXPECT_EQ(two.lineage.transform_version, "2");
    EXPECT_EQ(two.lineage.transform_hash, "h-fx");
    EXPECT_FALSE(two.lineage.trust_upgrade_applied);
    ASSERT_TRUE(two.fact.lineage);
    EXPECT_EQ(two.fact.lineage->input_fact_paths, two.lineage.input_fact_paths);
}

TEST(DeriveFact, EarliestExpiryAndSmallestConfidence) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        std::optional<double> first, second, expected;
    } cases[] = {
        {nan, 0.5, 0.5}, {0.5, nan, 0.5},          {0.9, std::nullopt, 0.9},
        {0.9, 0.2, 0.2}, {std::nullopt, 0.3, 0.3}, {std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        FactEnvelope a = fact("a", SourceClass::Attested);
        FactEnvelope b = fact("b", SourceClass::Attested);
        a.confidence = c.first;
        b.confidence = c.second;
        a.expires_at = at("2024-05-01T10:00:00Z");
        b.expires_at = at("2024-05-01T09:00:00Z");
        DerivedFact d = derive(make_transform("fx", "1", {"a", "b"}, "out"), store_of({a, b}));
        EXPECT_EQ(d.fact.confidence, c.expected);
        EXPECT_EQ(d.fact.expires_at, at("2024-05-01T09:00:00Z"));
    }
    FactEnvelope a = fact("a", SourceClass::Attested);
    a.confidence = nan;
    a.expires_at = at("2024-05-01T10:00:00Z");
    DerivedFact d = derive(make_transform("fx", "1", {"a", "b"}, "out"),
                           store_of({a, fact("b", SourceClass::Attested)}));
    ASSERT_TRUE(d.fact.confidence);
    EXPECT_TRUE(std::isnan(*d.fact.confidence)); // only NaN given: NaN it stays
    EXPECT_EQ(d.fact.expires_at, at("2024-05-01T10:00:00Z"));
}

TEST(DeriveFact, AMissingInputGivesNothing) {
    TestClock clock(kNow);
    FactStore store = store_of({fact("a", SourceClass::Attested)});
    EXPECT_FALSE(derive_fact(make_transform("fx", "1", {"a", "missing"}, "out"), store, clock));
    EXPECT_EQ(clock.readings, 0);
}

TEST(TrustClass, ALineageCanLowerAnEnvelopesTrustButNeverRaiseIt) {
    FactEnvelope claims_more = fact("a", SourceClass::RuntimeObserved);
    claims_more.lineage.emplace();
    claims_more.lineage->effective_trust = SourceClass::SystemOfRecord;
    EXPECT_EQ(trust_class({claims_more, FactOrigin::Trusted}), SourceClass::RuntimeObserved);

    FactEnvelope claims_less = fact("a", SourceClass::SystemOfRecord);
    claims_less.lineage.emplace();
    claims_less.lineage->effective_trust = SourceClass::CallerSupplied;
    EXPECT_EQ(trust_class({claims_less, FactOrigin::Trusted}), SourceClass::CallerSupplied);

    // The engine's own derived fact is as trusted as its lineage says, not "derived".
    FactEnvelope derived = fact("d", SourceClass::Derived);
    derived.lineage.emplace();
    derived.lineage->effective_trust = SourceClass::SystemOfRecord;
    EXPECT_EQ(trust_class({derived, FactOrigin::Derived}), SourceClass::SystemOfRecord);
    EXPECT_EQ(trust_class({derived, FactOrigin::Trusted}), SourceClass::Derived);
    // Without lineage: the source class.
    EXPECT_EQ(trust_class({fact("c", SourceClass::Attested), FactOrigin::Trusted}),
              SourceClass::Attested);
}

class DeriveFacts : public ::testing::Test {
protected:
    AuthorityEnvironment environment(std::vector<FactTransform> transforms) {
        auto config = base_config();
        config.fact_sources = {source("obs", SourceClass::RuntimeObserved, {"load", "sensor."}),
                               source("sor", SourceClass::SystemOfRecord, {"ledger"})};
        config.fact_transforms = std::move(transforms);
        return testing::validated(std::move(config));
    }

    Result<ResolvedFacts, AuthorityError> run(const AuthorityEnvironment& env,
                                              std::vector<FactEnvelope> facts,
                                              const char* context = "{}") {
        return resolve_facts(env, request(parse_value(context)), std::move(facts), clock_);
    }

    TestClock clock_{kNow, 60};
};

TEST_F(DeriveFacts, AnEnvelopeClaimingASystemOfRecordLineageStaysRuntimeObserved) {
    FactEnvelope load =
        envelope("load", json::Value::from_u64(3), SourceClass::RuntimeObserved, "obs");
    load.lineage.emplace();
    load.lineage->transform_id = "elsewhere";
    load.lineage->effective_trust = SourceClass::SystemOfRecord;
    load.lineage->trust_upgrade_applied = true;
    FactEnvelope ledger =
        envelope("ledger", json::Value::from_u64(9), SourceClass::SystemOfRecord, "sor");
    AuthorityEnvironment env = environment({make_transform("fx", "1", {"load"}, "load.copy"),
                                            make_transform("fy", "1", {"ledger"}, "ledger.copy")});
    auto r = run(env, {load, ledger});
    ASSERT_TRUE(r.ok()) << r.error().to_string();
    ASSERT_EQ(r->derived_lineage.size(), 2u);
    EXPECT_EQ(r->derived_lineage[0].input_source_classes,
              std::vector<SourceClass>{SourceClass::RuntimeObserved});
    EXPECT_EQ(r->derived_lineage[0].effective_trust, SourceClass::RuntimeObserved);
    // What a requirement restricted to system_of_record would see of each fact.
    EXPECT_EQ(trust_class(*r->store.first("load")), SourceClass::RuntimeObserved);
    EXPECT_EQ(trust_class(*r->store.first("load.copy")), SourceClass::RuntimeObserved);
    EXPECT_EQ(trust_class(*r->store.first("ledger.copy")), SourceClass::SystemOfRecord);
}

TEST_F(DeriveFacts, DerivedFactsComeLastAndSeeNoOtherDerivedFact) {
    AuthorityEnvironment env = environment(
        {make_transform("fx", "1", {"load"}, "user"), make_transform("fy", "1", {"user"}, "n"),
         make_transform("fz", "1", {"n"}, "never"), make_transform("fw", "1", {"x"}, "w")});
    auto r =
        run(env, {envelope("load", json::Value::from_u64(3), SourceClass::RuntimeObserved, "obs")},
            R"({"user":"caller","x":1})");
    ASSERT_TRUE(r.ok());
    std::vector<std::string> paths;
    for (const StoredFact& f : r->store.facts())
        paths.push_back(f.fact.path);
    // fy reads the caller fact "user", not fx's derived one; fz finds no "n" and is skipped.
    EXPECT_EQ(paths, (std::vector<std::string>{"user", "x", "load", "user", "n", "w"}));
    EXPECT_EQ(r->store.first("user")->fact.source_id, "caller");
    EXPECT_EQ(r->store.facts()[4].fact.value, json::Value("caller"));
    ASSERT_EQ(r->derived_lineage.size(), 3u);
    EXPECT_EQ(r->derived_lineage[1].input_source_classes,
              std::vector<SourceClass>{SourceClass::CallerSupplied});
    EXPECT_EQ(r->store.facts()[3].origin, FactOrigin::Derived);
    // One reading for the caller facts, then one per derived fact.
    EXPECT_EQ(clock_.readings, 4);
    EXPECT_EQ(r->store.facts()[0].fact.observed_at, kNow);
    EXPECT_EQ(r->store.facts()[3].fact.observed_at.seconds, kNow.seconds + 60);
    EXPECT_EQ(r->store.facts()[5].fact.observed_at.seconds, kNow.seconds + 180);
}

TEST_F(DeriveFacts, ARepeatedKeyRunsTheLaterRecordForEachEntry) {
    FactTransform later = make_transform("fx", "1", {"x"}, "second");
    AuthorityEnvironment env = environment({make_transform("fx", "1", {"x"}, "first"), later});
    auto r = run(env, {}, R"({"x":1})");
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r->store.size(), 3u);
    EXPECT_EQ(r->store.facts()[1].fact.path, "second");
    EXPECT_EQ(r->store.facts()[2].fact.path, "second");
}

TEST_F(DeriveFacts, AnAtInTheIdOrVersionFailsTheEvaluation) {
    for (auto [id, version] : {std::pair{"f@x", "1"}, std::pair{"fx", "1@2"}, {"@", ""}}) {
        AuthorityEnvironment env = environment(
            {make_transform("ok", "1", {}, "o"), make_transform(id, version, {}, "out")});
        auto r = run(env, {});
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().to_string(), "[InvalidTransform] Transform '" + std::string(id) + "@" +
                                             version +
                                             "' invalid: Transform key must be in format "
                                             "id@version");
    }
    // Empty id and version still make two parts.
    auto r = run(environment({make_transform("", "", {}, "out")}), {});
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->store.facts()[0].fact.source_id, "@");
}

} // namespace
} // namespace vok::authority
