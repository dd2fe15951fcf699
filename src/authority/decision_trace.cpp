// Writing the decision-trace document; see decision_trace.h.
#include "authority/decision_trace.h"

#include "json/writer.h"

namespace vok::authority {

namespace {

template <class T, class WriteOne>
void list_member(json::Writer& w, std::string_view key, const std::vector<T>& items,
                 WriteOne write_one) {
    w.key(key);
    w.begin_array();
    for (const T& item : items)
        write_one(w, item);
    w.end_array();
}

void write_fact_envelope(json::Writer& w, const TraceFactEnvelope& f) {
    w.begin_object();
    w.string_member("path", f.path);
    w.key("source_class");
    write_source_class(w, f.source_class);
    w.string_member("source_id", f.source_id);
    w.bool_member("trusted", f.trusted);
    w.end_object();
}

void write_trust_decision(json::Writer& w, const FactTrustDecision& d) {
    w.begin_object();
    w.string_member("fact_path", d.fact_path);
    w.key("required_sources");
    write_source_class_list(w, d.required_sources);
    w.key("observed_source");
    write_source_class(w, d.observed_source);
    w.bool_member("trusted", d.trusted);
    w.string_member("reason", d.reason);
    if (d.evidence_ref) w.string_member("evidence_ref", *d.evidence_ref);
    w.end_object();
}

void write_unknown_decision(json::Writer& w, const UnknownDecision& d) {
    w.begin_object();
    w.string_member("policy_id", d.policy_id);
    w.bool_member("unknown_handling_applied", d.unknown_handling_applied);
    w.string_member("unknown_modality", variant_name(d.unknown_modality));
    w.key("unknown_default_result");
    write_final_decision(w, d.unknown_default_result);
    w.string_member("unknown_reason", d.unknown_reason);
    w.string_list_member("affected_fact_paths", d.affected_fact_paths);
    w.string_list_member("fact_source_ids", d.fact_source_ids);
    w.string_member("availability_classification", d.availability_classification);
    if (d.operator_action_hint) w.string_member("operator_action_hint", *d.operator_action_hint);
    w.end_object();
}

void write_lowering_decision(json::Writer& w, const CompatibilityLoweringDecision& d) {
    w.begin_object();
    w.string_member("policy_id", d.policy_id);
    w.string_member("original_expression", d.original_expression);
    w.bool_member("lowered", d.lowered);
    if (d.reason) w.string_member("reason", *d.reason);
    w.end_object();
}

void write_resolution_step(json::Writer& w, const ConflictResolutionStep& s) {
    w.begin_object();
    w.string_member("step", s.step);
    w.string_member("policy_id", s.policy_id);
    w.string_member("result", s.result);
    w.end_object();
}

} // namespace

std::string serialize_decision_trace(const DecisionTrace& t) {
    std::string out;
    out.reserve(4096); // a typical trace, so that writing it rarely reallocates
    json::Writer w(out);
    w.begin_object();
    w.string_member("decision_id", t.decision_id);
    w.string_member("request_id", t.request_id);
    w.string_member("ir_hash", t.ir_hash);
    w.string_list_member("pack_hashes", t.pack_hashes);
    w.string_member("resolver_version", t.resolver_version);
    w.string_member("resolver_semantics_version", t.resolver_semantics_version);
    w.string_member("resolver_semantics_hash", t.resolver_semantics_hash);
    w.string_member("specificity_profile_id", t.specificity_profile_id);
    w.string_member("specificity_profile_hash", t.specificity_profile_hash);
    w.string_member("specificity_profile_source", t.specificity_profile_source);
    w.string_list_member("specificity_profile_conflicts", t.specificity_profile_conflicts);
    w.string_member("unknown_handling_config_hash", t.unknown_handling_config_hash);
    w.string_member("compatibility_lowering_version", t.compatibility_lowering_version);
    w.string_member("action_request_hash", t.action_request_hash);
    list_member(w, "fact_envelopes", t.fact_envelopes, &write_fact_envelope);
    list_member(w, "fact_trust_decisions", t.fact_trust_decisions, &write_trust_decision);
    list_member(w, "derived_fact_lineage", t.derived_fact_lineage,
                [](json::Writer& ww, const DerivedFactLineage& l) { l.write(ww); });
    w.string_list_member("candidate_policies", t.candidate_policies);
    w.string_list_member("applicable_policies", t.applicable_policies);
    w.string_list_member("incomparable_policies", t.incomparable_policies);
    list_member(w, "unknown_decisions", t.unknown_decisions, &write_unknown_decision);
    list_member(w, "compatibility_lowering_decisions", t.compatibility_lowering_decisions,
                &write_lowering_decision);
    list_member(w, "conflict_resolution_steps", t.conflict_resolution_steps,
                &write_resolution_step);
    w.key("final_decision");
    write_final_decision(w, t.final_decision);
    w.string_member("claim_level", variant_name(t.claim_level));
    w.key("validation_suite_ref");
    if (t.validation_suite_ref)
        w.string_value(*t.validation_suite_ref);
    else
        w.null_value();
    w.string_member("created_at", format_rfc3339(t.created_at));
    w.end_object();
    return out;
}

} // namespace vok::authority
