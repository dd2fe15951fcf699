// Reading requests and fact-envelope lists: defaults, the resource's attributes, date-times,
// array forms, refusals and hostile input.
#include <gtest/gtest.h>

#include <string>

#include "authority/fact_envelope.h"
#include "authority/request.h"
#include "json/writer.h"

namespace vok::authority {
namespace {

const std::string kRequired =
    R"("request_id":"r1","actor":{"id":"u1"},"operation":"read",)"
    R"("resource":{"type":"doc"},"requested_at":"2024-05-01T10:00:00+02:00")";

std::string request(const std::string& members = "") {
    return "{" + kRequired + (members.empty() ? "" : "," + members) + "}";
}

std::string message(const Result<AuthorityRequest, std::string>& r) {
    EXPECT_FALSE(r.ok());
    return r.ok() ? "" : r.error().substr(0, r.error().find(" at line "));
}

std::string request_error(const std::string& text) {
    return message(AuthorityRequest::deserialize(text));
}

std::string facts_error(const std::string& text) {
    auto f = FactEnvelope::deserialize_list(text);
    EXPECT_FALSE(f.ok()) << text;
    return f.ok() ? "" : f.error().substr(0, f.error().find(" at line "));
}

TEST(AuthorityRequest, DefaultsOfAMinimalRequest) {
    auto r = AuthorityRequest::deserialize(request());
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ(r->request_id, "r1");
    EXPECT_EQ(r->actor.id, "u1");
    EXPECT_FALSE(r->actor.role || r->actor.service_account || r->actor.agent_identity);
    EXPECT_TRUE(r->actor.groups.empty());
    EXPECT_EQ(r->operation, "read");
    EXPECT_FALSE(r->resource.id);
    EXPECT_EQ(r->resource.type, "doc");
    EXPECT_TRUE(r->resource.attributes.empty());
    EXPECT_TRUE(r->context.is_null());
    // Ten o'clock at +02:00 is eight o'clock UTC.
    EXPECT_EQ(format_rfc3339(r->requested_at), "2024-05-01T08:00:00+00:00");
    EXPECT_FALSE(r->correlation_id || r->risk_class);
    EXPECT_TRUE(r->metadata.empty());
}

TEST(AuthorityRequest, FreeValuesKeepTheirForm) {
    auto r = AuthorityRequest::deserialize(
        request(R"("context":{"a":{"b":1,"c":[1,2.0]},"d":null},"metadata":{"t":-1,"t":2,"u":"x"},)"
                R"("correlation_id":"c","risk_class":null)"));
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ(json::to_compact_string(r->context), R"({"a":{"b":1,"c":[1,2.0]},"d":null})");
    EXPECT_EQ(json::to_compact_string(json::Value(r->metadata)), R"({"t":2,"u":"x"})");
    EXPECT_EQ(r->correlation_id, "c");
    EXPECT_FALSE(r->risk_class);

    auto five = AuthorityRequest::deserialize(request(R"("context":5)"));
    ASSERT_TRUE(five.ok());
    EXPECT_EQ(json::to_compact_string(five->context), "5");
}

TEST(AuthorityRequest, ResourceAttributesTakeEveryOtherKey) {
    auto r = AuthorityRequest::deserialize(
        R"({"request_id":"r","actor":["u","admin",["g"],null,"bot"],"operation":"o",)"
        R"("resource":{"id":null,"type":"doc","owner":"a","owner":{"n":1},"size":3},)"
        R"("requested_at":"2024-05-01T10:00:00Z"})");
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ(r->actor.role, "admin");
    EXPECT_EQ(r->actor.groups, std::vector<std::string>{"g"});
    EXPECT_EQ(r->actor.agent_identity, "bot");
    EXPECT_FALSE(r->resource.id);
    EXPECT_EQ(json::to_compact_string(json::Value(r->resource.attributes)),
              R"({"owner":{"n":1},"size":3})");

    auto empty = AuthorityRequest::deserialize(
        R"({"request_id":"r","actor":{"id":"u"},"operation":"o","resource":{},"requested_at":"2024-05-01T10:00:00Z"})");
    ASSERT_TRUE(empty.ok());
    EXPECT_FALSE(empty->resource.id || empty->resource.type);
}

TEST(AuthorityRequest, ArrayForm) {
    const std::string eight =
        R"(["r1",{"id":"u1"},"read",{"type":"doc"},{"k":1},"2024-05-01T10:00:00Z",null,"high")";
    auto r8 = AuthorityRequest::deserialize(eight + "]");
    ASSERT_TRUE(r8.ok()) << r8.error();
    EXPECT_TRUE(r8->metadata.empty());
    EXPECT_EQ(r8->risk_class, "high");
    auto r9 = AuthorityRequest::deserialize(eight + R"(,{"m":true}])");
    ASSERT_TRUE(r9.ok()) << r9.error();
    EXPECT_EQ(r9->metadata.size(), 1u);
    EXPECT_EQ(request_error(
                  R"(["r1",{"id":"u1"},"read",{"type":"doc"},null,"2024-05-01T10:00:00Z",null])"),
              "invalid length 7, expected struct AuthorityRequest with 9 elements");
    EXPECT_EQ(request_error(eight + R"(,{},1])"), "trailing characters");
}

struct Refusal {
    std::string text;
    std::string message;
};

class AuthorityRequestRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(AuthorityRequestRefusal, NamesTheProblem) {
    EXPECT_EQ(request_error(GetParam().text), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Values, AuthorityRequestRefusal,
    ::testing::Values(
        Refusal{request(R"("metadata":null)"), "invalid type: null, expected a map"},
        Refusal{request(R"("metadata":[])"), "invalid type: sequence, expected a map"},
        Refusal{request(R"("request_id":"r2")"), "duplicate field `request_id`"},
        Refusal{R"({"resource":{"type":"a","type":"b"}})", "duplicate field `type`"},
        Refusal{R"({"request_id":"r","actor":{"id":"u","groups":null}})",
                "invalid type: null, expected a sequence"},
        Refusal{R"({"request_id":"r","actor":{"role":"x"}})", "missing field `id`"},
        Refusal{R"({"request_id":"r","actor":["u","x"]})",
                "invalid length 3, expected struct ActorContext with 5 elements"},
        Refusal{R"({"resource":["d"]})", "invalid type: sequence, expected struct ResourceRef"},
        Refusal{R"({"resource":{"id":1}})", "invalid type: integer `1`, expected a string"},
        Refusal{R"({"resource":{"id":"a","id":"b"}})", "duplicate field `id`"},
        Refusal{R"({"requested_at":5})",
                "invalid type: integer `5`, expected an RFC 3339 formatted date and time string"},
        Refusal{R"({"requested_at":"2024-05-01"})", "premature end of input"},
        Refusal{R"({"requested_at":"2024-05-01T10:00:00"})", "premature end of input"},
        Refusal{R"({"requested_at":"2024-13-01T10:00:00Z"})", "input is out of range"},
        Refusal{R"({"requested_at":"2024-05-01X10:00:00Z"})", "input contains invalid characters"},
        Refusal{R"({"request_id":"r"})", "missing field `actor`"},
        Refusal{"[]", "invalid length 0, expected struct AuthorityRequest with 9 elements"},
        Refusal{"5", "invalid type: integer `5`, expected struct AuthorityRequest"}));

TEST(AuthorityRequest, DateErrorsArePositionedAfterTheText) {
    auto r = AuthorityRequest::deserialize(R"({"requested_at":"2024-05-01"})");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), "premature end of input at line 1 column 28");
}

TEST(FactEnvelope, ReadsEveryField) {
    auto f = FactEnvelope::deserialize_list(
        R"([{"path":"a.b","value":null,"source_class":"attested","source_id":"s",)"
        R"("observed_at":"2024-05-01T10:00:00.5+02:00","expires_at":"2024-05-02T00:00:00Z",)"
        R"("evidence_ref":"e","signature":"sig","confidence":1,)"
        R"("lineage":{"transform_id":"t","transform_version":"1","transform_hash":"h",)"
        R"("input_fact_paths":["x"],"input_source_classes":["derived"],)"
        R"("effective_trust":"derived","trust_upgrade_applied":false}},)"
        R"(["p",[1,2.5],"caller_supplied","caller","2024-05-01T10:00:00Z",null,null,null,null,null]])");
    ASSERT_TRUE(f.ok()) << f.error();
    ASSERT_EQ(f->size(), 2u);
    const FactEnvelope& a = (*f)[0];
    EXPECT_EQ(a.path, "a.b");
    EXPECT_TRUE(a.value.is_null());
    EXPECT_EQ(a.source_class, SourceClass::Attested);
    EXPECT_EQ(format_rfc3339(a.observed_at), "2024-05-01T08:00:00.500+00:00");
    EXPECT_EQ(format_rfc3339(*a.expires_at), "2024-05-02T00:00:00+00:00");
    EXPECT_EQ(a.confidence, 1.0);
    ASSERT_TRUE(a.lineage);
    EXPECT_EQ(a.lineage->input_source_classes, std::vector<SourceClass>{SourceClass::Derived});
    const FactEnvelope& b = (*f)[1];
    EXPECT_EQ(json::to_compact_string(b.value), "[1,2.5]");
    EXPECT_FALSE(b.expires_at || b.evidence_ref || b.signature || b.confidence || b.lineage);

    auto none = FactEnvelope::deserialize_list(" [ ] ");
    ASSERT_TRUE(none.ok());
    EXPECT_TRUE(none->empty());
}

TEST(FactEnvelope, Refusals) {
    const std::string head =
        R"([{"path":"a","source_class":"attested","source_id":"s","observed_at":"2024-05-01T10:00:00Z")";
    EXPECT_EQ(facts_error(head + "}]"), "missing field `value`");
    EXPECT_EQ(facts_error(head + R"(,"value":1,"confidence":"high"}])"),
              "invalid type: string \"high\", expected f64");
    EXPECT_EQ(facts_error(head +
                          R"(,"value":1,"lineage":{"transform_id":"t","transform_version":"1",)"
                          R"("transform_hash":"h","input_fact_paths":[],"input_source_classes":[],)"
                          R"("effective_trust":"derived"}}])"),
              "missing field `trust_upgrade_applied`");
    EXPECT_EQ(facts_error(head + R"(,"value":1,"lineage":["t"]}])"),
              "invalid length 1, expected struct DerivedFactLineage with 7 elements");
    EXPECT_EQ(facts_error(R"([["p",1,"attested","s"]])"),
              "invalid length 4, expected struct FactEnvelope with 10 elements");
    EXPECT_EQ(facts_error(R"([{"source_class":"Attested"}])"),
              "unknown variant `Attested`, expected one of `caller_supplied`, `runtime_observed`, "
              "`system_of_record`, `attested`, `manual_approval`, `derived`, `unknown_source`");
    EXPECT_EQ(facts_error(R"({"path":"a"})"), "invalid type: map, expected a sequence");
    EXPECT_EQ(facts_error("[] x"), "trailing characters");
    auto lineage_null = FactEnvelope::deserialize_list(head + R"(,"value":1,"lineage":null}])");
    ASSERT_TRUE(lineage_null.ok()) << lineage_null.error();
    EXPECT_FALSE((*lineage_null)[0].lineage);
}

std::string nested(size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

TEST(HostileInput, DeepAndLargeTextsGiveOneError) {
    // Request object, then the context value: 127 levels are read, 128 refused.
    EXPECT_TRUE(AuthorityRequest::deserialize(request(R"("context":)" + nested(126))).ok());
    EXPECT_EQ(request_error(request(R"("context":)" + nested(127))), "recursion limit exceeded");
    EXPECT_EQ(request_error(request(R"("metadata":{"m":)" + nested(126) + "}")),
              "recursion limit exceeded");
    EXPECT_EQ(request_error(R"({"resource":{"x":)" + nested(126) + "}}"),
              "recursion limit exceeded");
    EXPECT_EQ(request_error(request(R"("unknown":)" + nested(100000))), "recursion limit exceeded");
    EXPECT_EQ(facts_error(R"([{"x":)" + nested(100000) + "}]"), "recursion limit exceeded");
    const std::string head =
        R"([{"path":"a","source_class":"attested","source_id":"s","observed_at":"2024-05-01T10:00:00Z")";
    EXPECT_TRUE(FactEnvelope::deserialize_list(head + R"(,"value":)" + nested(125) + "}]").ok());
    EXPECT_EQ(facts_error(head + R"(,"value":)" + nested(126) + "}]"), "recursion limit exceeded");
    EXPECT_EQ(facts_error(head + R"(,"value":1e999}])"), "number out of range");
    EXPECT_EQ(facts_error(head + R"(,"value":1,"observed_at":"+99999-01-01T00:00:00Z"}])"),
              "duplicate field `observed_at`");
    std::string big = "[" + std::string(50u << 20, ' ') + "]";
    EXPECT_TRUE(FactEnvelope::deserialize_list(big).ok());
}

} // namespace
} // namespace vok::authority
