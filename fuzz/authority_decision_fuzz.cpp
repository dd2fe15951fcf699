// Fuzzes authority evaluation end to end, from documents that always read: the input's bytes
// choose a configuration (sources, transforms, packs of policies with their modalities,
// priorities, structural predicates, conditions and fact requirements), a request and fact
// envelopes from small vocabularies that line up, so that trust, transforms, applicability,
// unknown handling and every step of conflict resolution are reached.
//
// Each input is evaluated in two fresh environments built from the same texts, with a clock
// that always reads the same instant. The laws:
// - the generated texts read, and the environments build and validate alike;
// - both evaluations agree on everything but the fields that are meant to differ (the decision
//   id, the trace reference and the creation time), or fail with the same error;
// - the trace and decision documents read back, with their keys in the documented order, the
//   lineage records through the engine's own reader, and each environment's evidence store holds
//   exactly the trace returned;
// - the result is the one a naive model of the rules predicts (authority_model.h).
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "authority/authority_decision.h"
#include "authority/clock.h"
#include "authority/decision_trace.h"
#include "authority/derived_fact_lineage.h"
#include "authority/environment.h"
#include "authority/environment_config.h"
#include "authority/evaluate_request.h"
#include "authority/fact_envelope.h"
#include "authority/request.h"
#include "authority/trace_identity.h"
#include "authority_model.h"
#include "fuzz_choices.h"
#include "time/rfc3339.h"
#include "json/text_deserializer.h"
#include "json/writer.h"

namespace {

using vok::fuzzing::broken;
using vok::fuzzing::Choices;
using vok::json::Array;
using vok::json::Object;
using vok::json::Value;
namespace model = vok::fuzzing::authority_model;

constexpr int64_t kNow = 1'700'000'000;

class FixedClock final : public vok::authority::Clock {
public:
    vok::UtcInstant now() override { return {kNow, 0}; }
};

Value object(std::vector<Object::Entry> entries) {
    return Value(Object::from_entries(std::move(entries)));
}

const char* const kPaths[] = {"user.level",   "user.mfa", "order.total",
                              "order.region", "risk",     "derived.score"};
const char* const kClasses[] = {"caller_supplied", "runtime_observed", "system_of_record",
                                "attested",        "manual_approval",  "derived",
                                "unknown_source"};
const char* const kSourceIds[] = {"crm", "idp", "ledger", "ops"};

class Generator {
public:
    explicit Generator(Choices& c) : c_(c) {}

    std::string path() { return kPaths[c_.pick(std::size(kPaths))]; }
    std::string source_class() { return kClasses[c_.pick(std::size(kClasses))]; }

    Value scalar() {
        switch (c_.pick(12)) {
        case 0:
            return Value("gold");
        case 1:
            return Value(true);
        case 2:
            return Value::from_u64(1);
        case 3:
            return Value("silver");
        case 4:
            return Value(false);
        case 5:
            return Value::from_f64(1.0);
        case 6:
            return Value();
        case 7:
            return Value::from_i64(-1);
        case 8:
            return Value("");
        case 9:
            return Value(Array{Value::from_u64(1), Value("gold")});
        case 10:
            return object({{"a", Value::from_u64(1)}});
        default:
            return Value::from_u64(std::numeric_limits<uint64_t>::max());
        }
    }

    std::string timestamp(int64_t offset_seconds, uint32_t nanos = 0) {
        std::string text = vok::format_rfc3339({kNow + offset_seconds, nanos});
        if (c_.chance(20)) text.replace(text.size() - 6, 6, "Z");
        return text;
    }

    std::string moment() {
        const int64_t offset =
            c_.pick_of<int64_t>({-60, 0, -3600, -3601, -3599, 1, -86400 * 30, 86400, -1});
        return timestamp(offset, c_.chance(15) ? 500'000'000 : 0);
    }

    Value request() {
        Object actor;
        actor.insert_or_assign("id", Value(c_.chance(3) ? "" : c_.word({"alice", "bob"})));
        if (c_.chance(60)) actor.insert_or_assign("role", Value(c_.word({"admin", "clerk"})));
        if (c_.chance(30)) actor.insert_or_assign("groups", Value(Array{Value("ops")}));
        Object resource;
        if (!c_.chance(10)) resource.insert_or_assign("id", Value(c_.word({"doc-1", "doc-2", ""})));
        if (c_.chance(50))
            resource.insert_or_assign("type", Value(c_.word({"document", "ledger"})));
        if (c_.chance(20)) resource.insert_or_assign("owner", scalar());
        Object metadata;
        if (c_.chance(60)) metadata.insert_or_assign("tenant", scalar());
        if (c_.chance(30)) metadata.insert_or_assign("region", Value(c_.word({"eu", "us"})));
        Object r;
        r.insert_or_assign("request_id", Value(c_.chance(3) ? "" : "req-1"));
        r.insert_or_assign("actor", Value(std::move(actor)));
        r.insert_or_assign("operation", Value(c_.chance(3) ? "" : c_.word({"read", "write"})));
        r.insert_or_assign("resource", Value(std::move(resource)));
        r.insert_or_assign("requested_at", Value(moment()));
        r.insert_or_assign("metadata", Value(std::move(metadata)));
        if (c_.chance(70)) r.insert_or_assign("context", context());
        if (c_.chance(20)) r.insert_or_assign("correlation_id", Value("corr"));
        if (c_.chance(20)) r.insert_or_assign("risk_class", Value("high"));
        return Value(std::move(r));
    }

    Value context() {
        if (c_.chance(10)) return c_.chance(50) ? Value("not an object") : Value(Array{});
        Object context;
        const size_t n = c_.pick(5);
        for (size_t i = 0; i < n; ++i) {
            const std::string p = path();
            const size_t dot = p.find('.');
            if (dot == std::string::npos) {
                context.insert_or_assign(p, scalar());
                continue;
            }
            Value* inner = context.find(p.substr(0, dot));
            if (!inner || !inner->is_object())
                inner = &context.insert_or_assign(p.substr(0, dot), Value(Object{}));
            inner->as_object().insert_or_assign(p.substr(dot + 1), scalar());
        }
        return Value(std::move(context));
    }

    Value source() {
        Object s;
        s.insert_or_assign("id", Value(kSourceIds[c_.pick(std::size(kSourceIds))]));
        s.insert_or_assign("source_class", Value(source_class()));
        Array allowed;
        const size_t n = c_.chance(90) ? 1 + c_.pick(3) : 0;
        for (size_t i = 0; i < n; ++i)
            allowed.emplace_back(
                c_.word({"user", "order.", "risk", "derived", "order.total", "user.level", ""}));
        s.insert_or_assign("allowed_paths", Value(std::move(allowed)));
        s.insert_or_assign("evidence_required", Value(c_.chance(20)));
        s.insert_or_assign("signature_required", Value(c_.chance(20)));
        s.insert_or_assign(
            "max_response_latency_ms",
            Value::from_u64(c_.chance(10) ? std::numeric_limits<uint64_t>::max() : 250));
        if (c_.chance(20)) s.insert_or_assign("owner", Value("team"));
        if (c_.chance(10)) s.insert_or_assign("health_endpoint", Value());
        return Value(std::move(s));
    }

    Value transform() {
        Object t;
        t.insert_or_assign("id", Value(c_.chance(3) ? "t@x" : c_.word({"t1", "t2"})));
        t.insert_or_assign("version", Value(c_.word({"1", "2"})));
        t.insert_or_assign("hash", Value(c_.word({"h1", "h2"})));
        Array inputs;
        const size_t n = c_.pick(3);
        for (size_t i = 0; i < n; ++i) {
            Array classes;
            if (c_.chance(30)) classes.emplace_back(source_class());
            inputs.push_back(object(
                {{"fact_path", Value(path())}, {"source_classes", Value(std::move(classes))}}));
        }
        t.insert_or_assign("inputs", Value(std::move(inputs)));
        t.insert_or_assign(
            "output", object({{"fact_path", Value(c_.chance(70) ? "derived.score" : path())}}));
        Object purity;
        for (const char* flag : {"network_access", "filesystem_access", "clock_access",
                                 "random_access", "side_effects", "global_state_access"})
            purity.insert_or_assign(flag, Value(false));
        t.insert_or_assign("purity", Value(std::move(purity)));
        t.insert_or_assign("determinism_tests", Value(Array{}));
        return Value(std::move(t));
    }

    Value classes(bool wide) {
        Array out;
        const size_t n = wide ? 2 + c_.pick(5) : c_.pick(3);
        for (size_t i = 0; i < n; ++i)
            out.emplace_back(source_class());
        return Value(std::move(out));
    }

    Value requirement() {
        Object r;
        r.insert_or_assign("fact_path", Value(path()));
        r.insert_or_assign("allowed_source_classes", classes(!c_.chance(15)));
        if (c_.chance(20))
            r.insert_or_assign("allowed_source_ids",
                               Value(Array{Value(kSourceIds[c_.pick(std::size(kSourceIds))])}));
        if (c_.chance(30)) {
            const int64_t seconds = c_.pick_of<int64_t>({60, 3600, 0, -60, 9'223'372'036'854'775});
            const int64_t nanos = c_.chance(20) ? 999'999'999 : 0;
            r.insert_or_assign("max_age",
                               Value(Array{Value::from_i64(seconds), Value::from_i64(nanos)}));
        }
        if (c_.chance(15)) r.insert_or_assign("evidence_ref_required", Value(true));
        if (c_.chance(15)) r.insert_or_assign("signature_required", Value(true));
        if (c_.chance(15))
            r.insert_or_assign("minimum_confidence",
                               c_.chance(50) ? Value::from_f64(0.5) : Value::from_u64(1));
        if (c_.chance(10)) r.insert_or_assign("required_transform", Value("t1@1"));
        if (c_.chance(15)) r.insert_or_assign("derived_from_source", classes(false));
        return Value(std::move(r));
    }

    // A structural predicate: usually the request's own value, so that the policy applies.
    Value expected(const Value& request, const std::string& key) {
        if (c_.chance(75)) {
            return model::structural_value(request, key);
        }
        return c_.chance(50) ? Value() : Value(c_.word({"write", "alice", "eu", "ledger"}));
    }

    Value policy(const Value& request, int index) {
        Object p;
        p.insert_or_assign("policy_id", Value("p" + std::to_string(index)));
        const std::string modality =
            c_.word({"Permission", "Prohibition", "Obligation", "Override"});
        p.insert_or_assign("modality", Value(modality));
        p.insert_or_assign("priority", Value::from_i64(c_.pick_of<int64_t>(
                                           {0, 10, -3, 1, std::numeric_limits<int32_t>::min(),
                                            std::numeric_limits<int32_t>::max()})));
        Object applies;
        const size_t keys = c_.pick(4);
        for (size_t i = 0; i < keys; ++i) {
            const std::string key = c_.word({"action", "actor.role", "resource.type", "tenant",
                                             "actor.id", "resource.id", "region", "actor"});
            applies.insert_or_assign(key, expected(request, key));
        }
        p.insert_or_assign("applies_to", Value(std::move(applies)));
        if (c_.chance(50)) {
            Object when;
            const size_t n = c_.pick(3);
            for (size_t i = 0; i < n; ++i)
                when.insert_or_assign(path(),
                                      c_.chance(20) ? object({{"__neq", scalar()}}) : scalar());
            p.insert_or_assign("when", Value(std::move(when)));
        } else if (c_.chance(20)) {
            p.insert_or_assign("when", Value());
        }
        Array requirements;
        const size_t n = c_.chance(50) ? c_.pick(3) : 0;
        for (size_t i = 0; i < n; ++i)
            requirements.push_back(requirement());
        if (!requirements.empty() || c_.chance(30))
            p.insert_or_assign("requires_fact", Value(std::move(requirements)));
        p.insert_or_assign("semantics_version", Value("v1"));
        if (modality == "Override" || c_.chance(10))
            p.insert_or_assign("override_spec", object({{"permits", Value("all")}}));
        if (c_.chance(15))
            p.insert_or_assign("obligation_spec", object({{"action", Value("notify")}}));
        if (c_.chance(10)) p.insert_or_assign("description", Value("text"));
        return Value(std::move(p));
    }

    Value pack(const Value& request, int index, int& policies, const std::string& profile) {
        Object k;
        k.insert_or_assign("id", Value("pack" + std::to_string(index)));
        k.insert_or_assign("version", Value("1"));
        k.insert_or_assign("semantics_version", Value(c_.chance(3) ? "v2" : "v1"));
        k.insert_or_assign("required_specificity_profile",
                           Value(c_.chance(90) ? profile : "other"));
        Array list;
        const size_t n = c_.pick(7);
        for (size_t i = 0; i < n; ++i)
            list.push_back(policy(request, policies++));
        k.insert_or_assign("policies", Value(std::move(list)));
        k.insert_or_assign("hash", Value("hash" + std::to_string(index)));
        if (c_.chance(20)) k.insert_or_assign("signature", Value("sig"));
        return Value(std::move(k));
    }

    Value config(const Value& request) {
        Object c;
        c.insert_or_assign("resolver_semantics_version", Value("v1"));
        Array dimensions;
        const size_t d = c_.pick(5);
        for (size_t i = 0; i < d; ++i)
            dimensions.emplace_back(
                c_.word({"actor", "resource", "condition", "action", "tenant", "actor.role"}));
        const std::string profile = "prof";
        c.insert_or_assign("specificity_profile",
                           object({{"id", Value(profile)},
                                   {"dimensions", Value(std::move(dimensions))},
                                   {"scoring_rules", c_.chance(50) ? Value() : scalar()},
                                   {"hash", Value("ph")}}));
        // Permissions and prohibitions may not fall back to Allow: validation refuses that,
        // so it is chosen rarely.
        auto fallback = [&](bool may_allow) {
            std::string d = c_.word({"deny", "escalate", "not_applicable", "reject", "allow"});
            if (d == "allow" && !may_allow && !c_.chance(5)) d = "deny";
            return object({{"default", Value(d)}});
        };
        c.insert_or_assign("unknown_handling", object({{"permission", fallback(false)},
                                                       {"prohibition", fallback(false)},
                                                       {"obligation", fallback(true)},
                                                       {"override_", fallback(true)}}));
        Array sources, transforms, packs;
        for (size_t i = 0, n = c_.pick(5); i < n; ++i)
            sources.push_back(source());
        for (size_t i = 0, n = c_.pick(3); i < n; ++i)
            transforms.push_back(transform());
        int policies = 0;
        for (size_t i = 0, n = 1 + c_.pick(3); i < n; ++i)
            packs.push_back(pack(request, int(i), policies, profile));
        c.insert_or_assign("fact_sources", Value(std::move(sources)));
        c.insert_or_assign("fact_transforms", Value(std::move(transforms)));
        c.insert_or_assign("authority_packs", Value(std::move(packs)));
        c.insert_or_assign("strict_mode", Value(c_.chance(30)));
        c.insert_or_assign("compatibility_lowering_version", Value(c_.chance(3) ? " " : "c1"));
        c.insert_or_assign("resolver_version", Value("r1"));
        return Value(std::move(c));
    }

    // Usually from a configured source with its own class, so that most envelopes meet the
    // later trust checks (paths, evidence, signature, expiry) rather than the first two.
    Value envelope(const Value& config) {
        Object e;
        e.insert_or_assign("path", Value(path()));
        e.insert_or_assign("value", scalar());
        const Array& sources = config.get("fact_sources")->as_array();
        if (!sources.empty() && !c_.chance(15)) {
            const Value& s = sources[c_.pick(sources.size())];
            e.insert_or_assign("source_id", *s.get("id"));
            e.insert_or_assign("source_class",
                               c_.chance(90) ? *s.get("source_class") : Value(source_class()));
        } else {
            e.insert_or_assign("source_class", Value(source_class()));
            e.insert_or_assign("source_id", Value(kSourceIds[c_.pick(std::size(kSourceIds))]));
        }
        e.insert_or_assign("observed_at", Value(moment()));
        if (c_.chance(30)) e.insert_or_assign("expires_at", Value(moment()));
        if (c_.chance(40)) e.insert_or_assign("evidence_ref", Value("ev"));
        if (c_.chance(40)) e.insert_or_assign("signature", Value("sig"));
        if (c_.chance(30))
            e.insert_or_assign("confidence",
                               c_.chance(50) ? Value::from_f64(0.9) : Value::from_u64(0));
        if (c_.chance(15)) {
            e.insert_or_assign("lineage",
                               object({{"transform_id", Value("t1")},
                                       {"transform_version", Value("1")},
                                       {"transform_hash", Value("h1")},
                                       {"input_fact_paths", Value(Array{Value(path())})},
                                       {"input_source_classes", classes(false)},
                                       {"effective_trust", Value(source_class())},
                                       {"trust_upgrade_applied", Value(c_.chance(50))}}));
        }
        return Value(std::move(e));
    }

    // The record in array form (its fields in declared order), where the readers accept it.
    // Each field is paired with the value an absent field takes in that form.
    Value maybe_array(const Value& record,
                      std::initializer_list<std::pair<const char*, Value>> fields) {
        if (!c_.chance(15)) return record;
        Array out;
        for (const auto& [name, absent] : fields) {
            const Value* v = record.get(name);
            out.push_back(v ? *v : absent);
        }
        return Value(std::move(out));
    }

private:
    Choices& c_;
};

// The text of a configuration, with some records in array form.
std::string config_text(Generator& g, const Value& config) {
    Value written = config;
    Object& c = written.as_object();
    for (Value& s : c.find("fact_sources")->as_array()) {
        s = g.maybe_array(s, {{"id", Value()},
                              {"source_class", Value()},
                              {"allowed_paths", Value()},
                              {"evidence_required", Value()},
                              {"signature_required", Value()},
                              {"max_response_latency_ms", Value()},
                              {"health_endpoint", Value()},
                              {"credential_ref", Value()},
                              {"schema_ref", Value()},
                              {"owner", Value()},
                              {"recovery_hint", Value()}});
    }
    for (Value& k : c.find("authority_packs")->as_array()) {
        for (Value& p : k.as_object().find("policies")->as_array()) {
            p = g.maybe_array(p, {{"policy_id", Value()},
                                  {"modality", Value()},
                                  {"priority", Value()},
                                  {"applies_to", Value()},
                                  {"when", Value()},
                                  {"requires_fact", Value(Array{})},
                                  {"semantics_version", Value()},
                                  {"override_spec", Value()},
                                  {"obligation_spec", Value()},
                                  {"description", Value()},
                                  {"evidence_ref", Value()}});
        }
        k = g.maybe_array(k, {{"id", Value()},
                              {"version", Value()},
                              {"semantics_version", Value()},
                              {"required_specificity_profile", Value()},
                              {"policies", Value()},
                              {"hash", Value()},
                              {"signature", Value()},
                              {"owner", Value()},
                              {"created_at", Value()},
                              {"approved_by", Value()},
                              {"evidence_ref", Value()}});
    }
    return vok::json::to_compact_string(written);
}

std::string facts_text(Generator& g, const Array& facts) {
    Array written;
    for (const Value& e : facts) {
        written.push_back(g.maybe_array(e, {{"path", Value()},
                                            {"value", Value()},
                                            {"source_class", Value()},
                                            {"source_id", Value()},
                                            {"observed_at", Value()},
                                            {"expires_at", Value()},
                                            {"evidence_ref", Value()},
                                            {"signature", Value()},
                                            {"confidence", Value()},
                                            {"lineage", Value()}}));
    }
    return vok::json::to_compact_string(Value(std::move(written)));
}

// The top-level keys of a document, in the order its text gives them.
std::vector<std::string> keys_in_order(std::string_view text) {
    vok::json::TextDeserializer de(text);
    std::vector<std::string> keys;
    if (!de.begin_map("document").ok()) broken("document is not an object", text);
    while (true) {
        auto key = de.next_key();
        if (!key.ok()) broken("document does not read", text, key.error().to_string());
        if (!*key) break;
        keys.push_back(**key);
        if (!de.skip_any().ok()) broken("document value does not read", text);
    }
    if (!de.end(vok::json::Form::Map, vok::Ok()).ok() || !de.finish().ok())
        broken("document does not end", text);
    return keys;
}

Value parsed(std::string_view text) {
    auto value = vok::json::parse(text);
    if (!value.ok()) broken("document is not JSON", text, value.error().to_string());
    return std::move(*value);
}

Value strings(const std::vector<std::string>& texts) {
    Array out;
    for (const std::string& t : texts)
        out.emplace_back(t);
    return Value(std::move(out));
}

// The trace and decision documents: read back, in order, and as the model predicts.
void check_documents(const vok::authority::EvaluationResult& result, const model::Outcome& expected,
                     const Value& request) {
    using namespace vok::authority;
    const std::string trace_text = serialize_decision_trace(*result.trace);
    const std::string decision_text = serialize_decision_record(result.decision);

    static const std::vector<std::string> kTraceKeys = {"decision_id",
                                                        "request_id",
                                                        "ir_hash",
                                                        "pack_hashes",
                                                        "resolver_version",
                                                        "resolver_semantics_version",
                                                        "resolver_semantics_hash",
                                                        "specificity_profile_id",
                                                        "specificity_profile_hash",
                                                        "specificity_profile_source",
                                                        "specificity_profile_conflicts",
                                                        "unknown_handling_config_hash",
                                                        "compatibility_lowering_version",
                                                        "action_request_hash",
                                                        "fact_envelopes",
                                                        "fact_trust_decisions",
                                                        "derived_fact_lineage",
                                                        "candidate_policies",
                                                        "applicable_policies",
                                                        "incomparable_policies",
                                                        "unknown_decisions",
                                                        "compatibility_lowering_decisions",
                                                        "conflict_resolution_steps",
                                                        "final_decision",
                                                        "claim_level",
                                                        "validation_suite_ref",
                                                        "created_at"};
    static const std::vector<std::string> kDecisionKeys = {
        "decision_id", "request_id", "final_decision", "reason_code", "trace_ref"};
    if (keys_in_order(trace_text) != kTraceKeys) broken("trace keys out of order", trace_text);
    if (keys_in_order(decision_text) != kDecisionKeys)
        broken("decision keys out of order", decision_text);

    const Value trace = parsed(trace_text);
    const Value decision = parsed(decision_text);
    const std::string& id = model::text_of(decision, "decision_id");
    if (id.empty() || model::text_of(decision, "trace_ref") != id ||
        model::text_of(trace, "decision_id") != id)
        broken("decision and trace name different ids", decision_text, trace_text);
    if (!(*trace.get("request_id") == *request.get("request_id")) ||
        !(*decision.get("request_id") == *request.get("request_id")))
        broken("request id not copied", decision_text, trace_text);
    auto created = vok::parse_rfc3339(model::text_of(trace, "created_at"));
    if (!created.ok() || *created != vok::UtcInstant{kNow, 0} ||
        model::text_of(trace, "created_at").find("+00:00") == std::string::npos)
        broken("created_at is not the clock's reading", trace_text);

    // Each lineage record reads back through the engine's reader as the record written.
    const Array& lineage = trace.get("derived_fact_lineage")->as_array();
    if (lineage.size() != result.trace->derived_fact_lineage.size())
        broken("lineage count differs", trace_text);
    for (size_t i = 0; i < lineage.size(); ++i) {
        const std::string text = vok::json::to_compact_string(lineage[i]);
        vok::json::TextDeserializer de(text);
        auto again = DerivedFactLineage::read(de);
        const DerivedFactLineage& l = result.trace->derived_fact_lineage[i];
        if (!again.ok() || again->transform_id != l.transform_id ||
            again->input_fact_paths != l.input_fact_paths ||
            again->input_source_classes != l.input_source_classes ||
            again->effective_trust != l.effective_trust || again->trust_upgrade_applied)
            broken("lineage does not read back", text);
    }

    // The model's account.
    const std::string detail = decision_text + "\n" + trace_text;
    if (model::text_of(decision, "final_decision") != expected.decision ||
        model::text_of(trace, "final_decision") != expected.decision)
        broken("final decision differs from the model's " + expected.decision, detail);
    if (model::text_of(decision, "reason_code") != expected.reason_code)
        broken("reason code differs from the model's " + expected.reason_code, detail);
    if (!(*trace.get("candidate_policies") == strings(expected.candidates)))
        broken("candidates differ from the model's", detail);
    if (!(*trace.get("applicable_policies") == strings(expected.applicable)))
        broken("applicable policies differ from the model's", detail);
    if (model::text_of(trace, "ir_hash") !=
        hash_hex(vok::json::to_compact_string(strings(expected.candidates))))
        broken("ir_hash is not the hash of the candidates", detail);

    const Array& steps = trace.get("conflict_resolution_steps")->as_array();
    bool same_steps = steps.size() == expected.steps.size();
    for (size_t i = 0; same_steps && i < steps.size(); ++i) {
        same_steps = model::text_of(steps[i], "step") == expected.steps[i].step &&
                     model::text_of(steps[i], "policy_id") == expected.steps[i].policy_id &&
                     model::text_of(steps[i], "result") == expected.steps[i].result;
    }
    if (!same_steps) broken("resolution steps differ from the model's", detail);

    const Array& unknowns = trace.get("unknown_decisions")->as_array();
    bool same_unknowns = unknowns.size() == expected.unknowns.size();
    for (size_t i = 0; same_unknowns && i < unknowns.size(); ++i) {
        const model::UnknownDecision& u = expected.unknowns[i];
        same_unknowns =
            model::text_of(unknowns[i], "policy_id") == u.policy_id &&
            model::text_of(unknowns[i], "unknown_modality") == u.modality &&
            model::text_of(unknowns[i], "unknown_default_result") == u.default_result &&
            model::text_of(unknowns[i], "unknown_reason") == u.reason &&
            model::text_of(unknowns[i], "availability_classification") == u.classification &&
            *unknowns[i].get("affected_fact_paths") == strings(u.affected_paths);
    }
    if (!same_unknowns) broken("unknown decisions differ from the model's", detail);

    const Array& trust = trace.get("fact_trust_decisions")->as_array();
    bool same_trust = trust.size() == expected.trust_reasons.size();
    for (size_t i = 0; same_trust && i < trust.size(); ++i) {
        same_trust = model::text_of(trust[i], "reason") == expected.trust_reasons[i] &&
                     trust[i].get("trusted")->as_bool() == (expected.trust_reasons[i] == "trusted");
    }
    if (!same_trust) broken("trust decisions differ from the model's", detail);

    const Array& facts = trace.get("fact_envelopes")->as_array();
    bool same_store = facts.size() == expected.store.size();
    for (size_t i = 0; same_store && i < facts.size(); ++i) {
        const model::Fact& f = expected.store[i];
        same_store = model::text_of(facts[i], "path") == f.path &&
                     model::text_of(facts[i], "source_class") == f.source_class &&
                     model::text_of(facts[i], "source_id") == f.source_id &&
                     facts[i].get("trusted")->as_bool() == (f.source_class != "caller_supplied" &&
                                                            f.source_class != "unknown_source");
    }
    if (!same_store) broken("fact store differs from the model's", detail);

    bool same_lineage = lineage.size() == expected.lineage.size();
    for (size_t i = 0; same_lineage && i < lineage.size(); ++i) {
        const model::Lineage& l = expected.lineage[i];
        same_lineage = model::text_of(lineage[i], "transform_id") == l.transform_id &&
                       model::text_of(lineage[i], "transform_version") == l.transform_version &&
                       model::text_of(lineage[i], "transform_hash") == l.transform_hash &&
                       *lineage[i].get("input_fact_paths") == strings(l.input_paths) &&
                       *lineage[i].get("input_source_classes") == strings(l.input_classes) &&
                       model::text_of(lineage[i], "effective_trust") == l.effective_trust;
    }
    if (!same_lineage) broken("lineage differs from the model's", detail);
}

// The documents without the fields each evaluation draws afresh.
std::string stable_part(std::string_view text, std::initializer_list<const char*> fresh) {
    Value v = parsed(text);
    for (const char* key : fresh)
        v.as_object().erase(key);
    return vok::json::to_compact_string(v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vok::authority;
    Choices c(data, size);
    Generator g(c);
    const Value request = g.request();
    const Value config = g.config(request);
    Array facts;
    for (size_t i = 0, n = c.pick(7); i < n; ++i)
        facts.push_back(g.envelope(config));

    const std::string config_json = config_text(g, config);
    const std::string request_json =
        vok::json::to_compact_string(g.maybe_array(request, {{"request_id", Value()},
                                                             {"actor", Value()},
                                                             {"operation", Value()},
                                                             {"resource", Value()},
                                                             {"context", Value()},
                                                             {"requested_at", Value()},
                                                             {"correlation_id", Value()},
                                                             {"risk_class", Value()},
                                                             {"metadata", Value(Object{})}}));
    const std::string facts_json = facts_text(g, facts);

    auto read_config = AuthorityEnvironmentConfig::deserialize(config_json);
    if (!read_config.ok())
        broken("generated configuration does not read", config_json, read_config.error());
    auto read_request = AuthorityRequest::deserialize(request_json);
    if (!read_request.ok())
        broken("generated request does not read", request_json, read_request.error());
    auto read_facts = FactEnvelope::deserialize_list(facts_json);
    if (!read_facts.ok()) broken("generated facts do not read", facts_json, read_facts.error());

    auto first = build_environment(*read_config);
    auto second = build_environment(*AuthorityEnvironmentConfig::deserialize(config_json));
    if (first.ok() != second.ok() ||
        (!first.ok() && first.error().to_string() != second.error().to_string()))
        broken("two builds of one configuration disagree", config_json);
    if (!first.ok()) return 0;
    auto valid_first = validate(*first);
    auto valid_second = validate(*second);
    if (valid_first.ok() != valid_second.ok() ||
        (!valid_first.ok() && valid_first.error().to_string() != valid_second.error().to_string()))
        broken("two validations of one configuration disagree", config_json);
    if (!valid_first.ok()) return 0;

    FixedClock clock_first, clock_second;
    auto one = evaluate_request(*first, *read_request, *read_facts, clock_first);
    auto two = evaluate_request(*second, *read_request, std::move(*read_facts), clock_second);
    const model::Outcome expected =
        model::evaluate(config, request, facts, vok::UtcInstant{kNow, 0});
    const std::string inputs = config_json + "\n" + request_json + "\n" + facts_json;

    if (one.ok() != two.ok()) broken("one evaluation failed and the other did not", inputs);
    if (!one.ok()) {
        if (one.error().to_string() != two.error().to_string())
            broken("the two evaluations fail differently", one.error().to_string(),
                   two.error().to_string());
        if (!expected.error || *expected.error != one.error().to_string())
            broken("evaluation failed where the model does not",
                   one.error().to_string() + "\nmodel: " + expected.error.value_or("(no error)"),
                   inputs);
        if (first->evidence_store().size() != 0 || second->evidence_store().size() != 0)
            broken("a failed evaluation stored a trace", inputs);
        return 0;
    }
    if (expected.error)
        broken("evaluation succeeded where the model fails: " + *expected.error, inputs);

    const std::string trace_one = serialize_decision_trace(*one->trace);
    const std::string trace_two = serialize_decision_trace(*two->trace);
    if (stable_part(trace_one, {"decision_id", "created_at"}) !=
        stable_part(trace_two, {"decision_id", "created_at"}))
        broken("two environments give different traces", trace_one, trace_two);
    const std::string decision_one = serialize_decision_record(one->decision);
    const std::string decision_two = serialize_decision_record(two->decision);
    if (stable_part(decision_one, {"decision_id", "trace_ref"}) !=
        stable_part(decision_two, {"decision_id", "trace_ref"}))
        broken("two environments give different decisions", decision_one, decision_two);
    for (const auto* environment : {&*first, &*second}) {
        const auto kept = environment->evidence_store().traces();
        const auto& returned = environment == &*first ? one->trace : two->trace;
        if (kept.size() != 1 ||
            serialize_decision_trace(*kept.front()) != serialize_decision_trace(*returned))
            broken("the evidence store does not hold exactly the returned trace", inputs);
    }
    check_documents(*one, expected, request);
    return 0;
}
