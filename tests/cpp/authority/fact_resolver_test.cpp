// The first stages of an evaluation: the validated check, the request checks, caller facts from
// the context, the seven trust checks in their order, and how trusted envelopes enter the store.
#include <gtest/gtest.h>

#include <string>

#include "authority/fact_resolver.h"
#include "environment_fixtures.h"
#include "json/writer.h"

namespace vok::authority {
namespace {

using testing::at;
using testing::base_config;
using testing::envelope;
using testing::parse_value;
using testing::request;
using testing::source;
using testing::TestClock;

const UtcInstant kNow = at("2024-05-01T09:00:00Z");

std::string error_text(const Result<ResolvedFacts, AuthorityError>& r) {
    EXPECT_FALSE(r.ok());
    return r.ok() ? "" : r.error().to_string();
}

std::vector<std::string> paths(const FactStore& store) {
    std::vector<std::string> out;
    for (const StoredFact& f : store.facts())
        out.push_back(f.fact.path);
    return out;
}

TEST(ResolveFacts, RefusesAnUnvalidatedEnvironmentBeforeTheRequest) {
    auto env = build_environment(base_config());
    ASSERT_TRUE(env.ok());
    AuthorityRequest bad = request();
    bad.request_id.clear();
    TestClock clock(kNow);
    EXPECT_EQ(error_text(resolve_facts(*env, bad, {}, clock)),
              "[InvalidAuthorityEnvironment] Environment not validated. Call validate() first.");
    EXPECT_EQ(clock.readings, 0);
}

TEST(CheckRequest, ChecksInOrder) {
    struct Case {
        void (*spoil)(AuthorityRequest&);
        std::string text;
    } cases[] = {
        {[](AuthorityRequest& r) {
             r.request_id.clear();
             r.actor.id.clear();
         },
         "[InvalidRequest] request_id is required"},
        {[](AuthorityRequest& r) {
             r.actor.id.clear();
             r.operation.clear();
         },
         "[InvalidRequest] actor.id is required"},
        {[](AuthorityRequest& r) {
             r.operation.clear();
             r.resource.type.reset();
         },
         "[InvalidRequest] operation is required"},
        {[](AuthorityRequest& r) { r.resource.type.reset(); },
         "[InvalidRequest] resource must include at least id or type"},
    };
    for (const Case& c : cases) {
        AuthorityRequest r = request();
        c.spoil(r);
        auto checked = check_request(r);
        ASSERT_FALSE(checked.ok()) << c.text;
        EXPECT_EQ(checked.error().to_string(), c.text);
    }
}

TEST(CheckRequest, EmptyResourceIdOrTypePasses) {
    AuthorityRequest r = request();
    r.resource.type.reset();
    r.resource.id = "";
    EXPECT_TRUE(check_request(r).ok());
    r.resource.id.reset();
    r.resource.type = "";
    EXPECT_TRUE(check_request(r).ok());
    // White space is not empty.
    r.request_id = " ";
    EXPECT_TRUE(check_request(r).ok());
}

TEST(FlattenContextFacts, LeavesInKeyOrder) {
    std::vector<FactEnvelope> out;
    flatten_context_facts(
        parse_value(R"({"d":null,"a":{"c":[1,{"k":2}],"b":1},"B":{},"A":{"x":{"y":{"z":true}}}})")
            .as_object(),
        std::nullopt, kNow, out);
    ASSERT_EQ(out.size(), 4u);
    const char* expected[][2] = {
        {"A.x.y.z", "true"}, {"a.b", "1"}, {"a.c", R"([1,{"k":2}])"}, {"d", "null"}};
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].path, expected[i][0]);
        EXPECT_EQ(json::to_compact_string(out[i].value), expected[i][1]);
        EXPECT_EQ(out[i].source_class, SourceClass::CallerSupplied);
        EXPECT_EQ(out[i].source_id, "caller");
        EXPECT_EQ(out[i].observed_at, kNow);
        EXPECT_FALSE(out[i].expires_at || out[i].evidence_ref || out[i].signature ||
                     out[i].confidence || out[i].lineage);
    }
}

TEST(FlattenContextFacts, DeepNestingCostsNoStack) {
    json::Value context = json::Value::from_u64(7);
    for (int i = 0; i < 100000; ++i) {
        json::Object o;
        o.insert_or_assign("k", std::move(context));
        context = json::Value(std::move(o));
    }
    std::vector<FactEnvelope> out;
    flatten_context_facts(context.as_object(), std::nullopt, kNow, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].path.size(), 100000u * 2 - 1);
}

TEST(ResolveFacts, ContextThatIsNoObjectGivesNoFacts) {
    AuthorityEnvironment env = testing::validated(base_config());
    for (const char* context : {"null", R"("x")", "[1]", "5", "{}", R"({"e":{}})"}) {
        TestClock clock(kNow);
        auto r = resolve_facts(env, request(parse_value(context)), {}, clock);
        ASSERT_TRUE(r.ok());
        EXPECT_TRUE(r->store.empty()) << context;
        EXPECT_EQ(clock.readings, 1);
        EXPECT_EQ(r->evaluated_at, kNow);
    }
    TestClock clock(kNow);
    auto r = resolve_facts(env, request(parse_value(R"({"x":{"y":{"z":true}}})")), {}, clock);
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r->store.size(), 1u);
    EXPECT_EQ(r->store.facts()[0].fact.path, "x.y.z");
    EXPECT_EQ(r->store.facts()[0].fact.value, json::Value(true));
}

TEST(PathAllowed, TheRuleAsWritten) {
    struct Case {
        const char* allowed;
        const char* path;
        bool admitted;
    } cases[] = {
        {"order", "order", true},
        {"order", "order.total", true},
        {"order", "orders", false},
        {"order", "order.", true},
        {"order.", "order.total", true},
        {"order.", "order", false},
        {"order.", "order.", true},
        {"order.", "orders.x", false},
        {"a.b", "a.b.c.d", true},
        {"a.b", "a", false},
        {"", "", true},
        {"", "x", false},
        {"", ".x", true},
        {".", ".x", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(path_allowed(c.allowed, c.path), c.admitted) << c.allowed << " / " << c.path;
}

class TrustChecks : public ::testing::Test {
protected:
    TrustChecks() {
        auto config = base_config();
        config.fact_sources = {
            source("crm", SourceClass::SystemOfRecord, {"customer", "order."}, true, true),
            source("obs", SourceClass::RuntimeObserved, {"load"})};
        env_ = testing::validated(std::move(config));
    }

    FactEnvelope good() {
        FactEnvelope f =
            envelope("customer.tier", json::Value("gold"), SourceClass::SystemOfRecord, "crm");
        f.evidence_ref = "ev-1";
        f.signature = "sig";
        f.expires_at = at("2024-05-01T10:00:00Z");
        return f;
    }

    FactTrustDecision trust(const FactEnvelope& f) { return trust_envelope(env_, f, kNow); }

    AuthorityEnvironment env_ = testing::validated(base_config());
};

TEST_F(TrustChecks, EachReasonInOrder) {
    struct Case {
        void (*spoil)(FactEnvelope&);
        const char* reason;
    } cases[] = {
        {[](FactEnvelope&) {}, "trusted"},
        // Every later check would fail too: the first decides.
        {[](FactEnvelope& f) {
             f.source_id = "nobody";
             f.path = "elsewhere";
             f.evidence_ref.reset();
         },
         "unregistered_source"},
        {[](FactEnvelope& f) {
             f.source_class = SourceClass::Attested;
             f.path = "elsewhere";
         },
         "source_class_mismatch"},
        {[](FactEnvelope& f) {
             f.path = "customers";
             f.evidence_ref.reset();
         },
         "path_not_allowed"},
        {[](FactEnvelope& f) {
             f.evidence_ref.reset();
             f.signature.reset();
         },
         "missing_evidence_ref"},
        {[](FactEnvelope& f) {
             f.signature.reset();
             f.expires_at = kNow;
         },
         "missing_signature"},
        {[](FactEnvelope& f) { f.expires_at = kNow; }, "stale_fact"},
        {[](FactEnvelope& f) { f.expires_at = at("2024-05-01T08:00:00Z"); }, "stale_fact"},
        {[](FactEnvelope& f) { f.expires_at = at("2024-05-01T09:00:00.000000001Z"); }, "trusted"},
        {[](FactEnvelope& f) { f.expires_at.reset(); }, "trusted"},
        {[](FactEnvelope& f) { f.path = "order.total"; }, "trusted"},
        {[](FactEnvelope& f) { f.path = "order"; }, "path_not_allowed"},
    };
    for (const Case& c : cases) {
        FactEnvelope f = good();
        c.spoil(f);
        FactTrustDecision d = trust(f);
        EXPECT_EQ(d.reason, c.reason);
        EXPECT_EQ(d.trusted, std::string(c.reason) == "trusted");
        EXPECT_EQ(d.fact_path, f.path);
        EXPECT_EQ(d.observed_source, f.source_class);
        EXPECT_EQ(d.evidence_ref, f.evidence_ref);
        if (std::string(c.reason) == "unregistered_source")
            EXPECT_TRUE(d.required_sources.empty());
        else
            EXPECT_EQ(d.required_sources, std::vector<SourceClass>{SourceClass::SystemOfRecord});
    }
}

TEST_F(TrustChecks, StaleExactlyAtExpiryTrustedOneSecondEarlier) {
    FactEnvelope f = good();
    f.expires_at = at("2024-05-01T09:00:00Z");
    TestClock clock(at("2024-05-01T09:00:00Z"));
    auto r = resolve_facts(env_, request(), {f}, clock);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->trust_decisions[0].reason, "stale_fact");
    EXPECT_TRUE(r->store.empty());

    TestClock earlier(at("2024-05-01T08:59:59Z"));
    r = resolve_facts(env_, request(), {f}, earlier);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->trust_decisions[0].reason, "trusted");
    EXPECT_EQ(r->store.size(), 1u);
}

TEST_F(TrustChecks, TrustedEnvelopesReplaceTheFirstFactOfTheirPath) {
    FactEnvelope load1 =
        envelope("load", json::Value::from_u64(1), SourceClass::RuntimeObserved, "obs");
    FactEnvelope load2 = load1;
    load2.value = json::Value::from_u64(2);
    FactEnvelope refused = load1;
    refused.source_id = "nobody";
    FactEnvelope tier = good();
    TestClock clock(kNow);
    auto r = resolve_facts(env_, request(parse_value(R"({"a":1,"load":0,"z":true})")),
                           {load1, tier, refused, load2}, clock);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(paths(r->store), (std::vector<std::string>{"a", "load", "z", "customer.tier"}));
    const StoredFact& load = r->store.facts()[1];
    EXPECT_EQ(load.fact.value, json::Value::from_u64(2));
    EXPECT_EQ(load.fact.source_id, "obs");
    EXPECT_EQ(load.origin, FactOrigin::Trusted);
    EXPECT_EQ(r->store.first("load"), &load);
    EXPECT_EQ(r->store.positions("load").size(), 1u);
    ASSERT_EQ(r->trust_decisions.size(), 4u);
    EXPECT_EQ(r->trust_decisions[2].reason, "unregistered_source");
    EXPECT_EQ(r->trust_decisions[3].reason, "trusted");
    EXPECT_EQ(clock.readings, 1);
}

TEST_F(TrustChecks, ThousandsOfEnvelopesOnFewPaths) {
    std::vector<FactEnvelope> facts;
    for (int i = 0; i < 20000; ++i)
        facts.push_back(envelope(i % 2 ? "load" : "customer.x", json::Value::from_u64(i),
                                 i % 2 ? SourceClass::RuntimeObserved : SourceClass::Attested,
                                 i % 2 ? "obs" : "crm"));
    TestClock clock(kNow);
    auto r = resolve_facts(env_, request(), std::move(facts), clock);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->trust_decisions.size(), 20000u);
    ASSERT_EQ(r->store.size(), 1u);
    EXPECT_EQ(r->store.facts()[0].fact.value, json::Value::from_u64(19999));
}

} // namespace
} // namespace vok::authority
