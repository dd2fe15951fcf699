// Writing the decision-trace document; see decision_trace.h.
#include "authority/decision_trace.h"

#include "authority/compact_object.h"

namespace vok::authority {

namespace {

void write_fact_envelope(std::string& out, const TraceFactEnvelope& f) {
    CompactObject o(out);
    o.string("path", f.path);
    o.string("source_class", json_name(f.source_class));
    o.string("source_id", f.source_id);
    o.boolean("trusted", f.trusted);
    o.end();
}

void write_trust_decision(std::string& out, const FactTrustDecision& d) {
    CompactObject o(out);
    o.string("fact_path", d.fact_path);
    o.source_classes("required_sources", d.required_sources);
    o.string("observed_source", json_name(d.observed_source));
    o.boolean("trusted", d.trusted);
    o.string("reason", d.reason);
    if (d.evidence_ref) o.string("evidence_ref", *d.evidence_ref);
    o.end();
}

void write_lineage(std::string& out, const DerivedFactLineage& l) {
    CompactObject o(out);
    o.string("transform_id", l.transform_id);
    o.string("transform_version", l.transform_version);
    o.string("transform_hash", l.transform_hash);
    o.strings("input_fact_paths", l.input_fact_paths);
    o.source_classes("input_source_classes", l.input_source_classes);
    o.string("effective_trust", json_name(l.effective_trust));
    o.boolean("trust_upgrade_applied", l.trust_upgrade_applied);
    o.end();
}

void write_unknown_decision(std::string& out, const UnknownDecision& d) {
    CompactObject o(out);
    o.string("policy_id", d.policy_id);
    o.boolean("unknown_handling_applied", d.unknown_handling_applied);
    o.string("unknown_modality", variant_name(d.unknown_modality));
    o.string("unknown_default_result", json_name(d.unknown_default_result));
    o.string("unknown_reason", d.unknown_reason);
    o.strings("affected_fact_paths", d.affected_fact_paths);
    o.strings("fact_source_ids", d.fact_source_ids);
    o.string("availability_classification", d.availability_classification);
    if (d.operator_action_hint) o.string("operator_action_hint", *d.operator_action_hint);
    o.end();
}

void write_lowering_decision(std::string& out, const CompatibilityLoweringDecision& d) {
    CompactObject o(out);
    o.string("policy_id", d.policy_id);
    o.string("original_expression", d.original_expression);
    o.boolean("lowered", d.lowered);
    if (d.reason) o.string("reason", *d.reason);
    o.end();
}

void write_resolution_step(std::string& out, const ConflictResolutionStep& s) {
    CompactObject o(out);
    o.string("step", s.step);
    o.string("policy_id", s.policy_id);
    o.string("result", s.result);
    o.end();
}

} // namespace

std::string serialize_decision_trace(const DecisionTrace& t) {
    std::string out;
    out.reserve(4096); // a typical trace, so that writing it rarely reallocates
    CompactObject o(out);
    o.string("decision_id", t.decision_id);
    o.string("request_id", t.request_id);
    o.string("ir_hash", t.ir_hash);
    o.strings("pack_hashes", t.pack_hashes);
    o.string("resolver_version", t.resolver_version);
    o.string("resolver_semantics_version", t.resolver_semantics_version);
    o.string("resolver_semantics_hash", t.resolver_semantics_hash);
    o.string("specificity_profile_id", t.specificity_profile_id);
    o.string("specificity_profile_hash", t.specificity_profile_hash);
    o.string("specificity_profile_source", t.specificity_profile_source);
    o.strings("specificity_profile_conflicts", t.specificity_profile_conflicts);
    o.string("unknown_handling_config_hash", t.unknown_handling_config_hash);
    o.string("compatibility_lowering_version", t.compatibility_lowering_version);
    o.string("action_request_hash", t.action_request_hash);
    o.list("fact_envelopes", t.fact_envelopes, &write_fact_envelope);
    o.list("fact_trust_decisions", t.fact_trust_decisions, &write_trust_decision);
    o.list("derived_fact_lineage", t.derived_fact_lineage, &write_lineage);
    o.strings("candidate_policies", t.candidate_policies);
    o.strings("applicable_policies", t.applicable_policies);
    o.strings("incomparable_policies", t.incomparable_policies);
    o.list("unknown_decisions", t.unknown_decisions, &write_unknown_decision);
    o.list("compatibility_lowering_decisions", t.compatibility_lowering_decisions,
           &write_lowering_decision);
    o.list("conflict_resolution_steps", t.conflict_resolution_steps, &write_resolution_step);
    o.string("final_decision", json_name(t.final_decision));
    o.string("claim_level", variant_name(t.claim_level));
    if (t.validation_suite_ref)
        o.string("validation_suite_ref", *t.validation_suite_ref);
    else
        o.key("validation_suite_ref") += "null";
    o.string("created_at", format_rfc3339(t.created_at));
    o.end();
    return out;
}

} // namespace vok::authority
