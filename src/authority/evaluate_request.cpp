// evaluate_request; the definitions behind evaluate_request.h.
#include "authority/evaluate_request.h"

#include <utility>

#include "authority/compact_object.h"
#include "authority/conflict_resolution.h"
#include "authority/fact_resolver.h"
#include "authority/policy_applicability.h"
#include "authority/trace_identity.h"
#include "authority/unknown_handling.h"
#include "common/cancellation.h"
#include "common/dropping.h"
#include "json/writer.h"

namespace vok::authority {

namespace {

// Caller-supplied facts and facts of unknown source are listed but never marked trusted.
bool trusted_class(SourceClass source_class) {
    return source_class != SourceClass::CallerSupplied &&
           source_class != SourceClass::UnknownSource;
}

} // namespace

std::string candidate_ids_text(const std::vector<std::string>& candidate_ids) {
    std::string out;
    out.reserve(candidate_ids.size() * 16 + 2);
    append_string_array(out, candidate_ids);
    return out;
}

std::string action_request_text(const AuthorityRequest& request) {
    std::string out = request.request_id;
    out += ':';
    out += request.actor.id;
    out += ':';
    out += request.operation;
    out += ':';
    json::Writer w(out);
    w.begin_object();
    if (request.resource.id) w.string_member("id", *request.resource.id);
    if (request.resource.type) w.string_member("type", *request.resource.type);
    // The attributes object keeps its keys in ascending byte order.
    for (const auto& [key, value] : request.resource.attributes) {
        poll_cancellation();
        w.value_member(key, value);
    }
    w.end_object();
    return out;
}

Result<EvaluationResult, AuthorityError> decide_request(const AuthorityEnvironment& environment,
                                                        const AuthorityRequest& request,
                                                        std::vector<FactEnvelope> facts,
                                                        Clock& clock) {
    VOK_ASSIGN(ResolvedFacts resolved,
               resolve_facts(environment, request, std::move(facts), clock));
    // Many facts take long to free: stopped part-way they are freed off this thread, and at the
    // end in steps.
    const HandOffOnUnwind hand_off(resolved);
    Applicability applicability = evaluate_policies(environment, request, resolved.store, clock);
    VOK_ASSIGN(Resolution resolution,
               resolve_conflicts(applicability,
                                 environment.resolver().specificity_profile.dimensions,
                                 environment.strict_mode()));

    auto shared_trace = std::make_shared<DecisionTrace>();
    DecisionTrace& trace = *shared_trace;
    EvaluationResult result;
    result.trace = shared_trace;
    trace.decision_id = new_decision_id();
    trace.request_id = request.request_id;
    // The resolution holds no references into the unknown decisions, so they move to the trace.
    trace.candidate_policies.reserve(applicability.evaluations.size());
    for (PolicyEvaluation& evaluation : applicability.evaluations) {
        poll_cancellation();
        trace.candidate_policies.push_back(evaluation.policy->policy_id);
        if (evaluation.unknown_decision)
            trace.unknown_decisions.push_back(std::move(*evaluation.unknown_decision));
    }
    trace.applicable_policies.reserve(applicability.applicable.size());
    for (size_t position : applicability.applicable) {
        poll_cancellation();
        trace.applicable_policies.push_back(applicability.evaluations[position].policy->policy_id);
    }
    trace.ir_hash = hash_hex(candidate_ids_text(trace.candidate_policies));
    trace.pack_hashes.reserve(environment.packs().size());
    for (const AuthorityPack& pack : environment.packs())
        trace.pack_hashes.push_back(pack.hash);
    const TraceVersions& versions = environment.trace_versions();
    trace.resolver_version = versions.resolver_version;
    trace.resolver_semantics_version = versions.resolver_semantics_version;
    trace.resolver_semantics_hash = environment.resolver_semantics_hash();
    const SpecificityProfile& profile = environment.resolver().specificity_profile;
    trace.specificity_profile_id = profile.id;
    trace.specificity_profile_hash = profile.hash;
    trace.specificity_profile_source = "environment";
    trace.unknown_handling_config_hash = environment.unknown_handling_config_hash();
    trace.compatibility_lowering_version = versions.compatibility_lowering_version;
    trace.action_request_hash = hash_hex(action_request_text(request));

    trace.fact_envelopes.reserve(resolved.store.size());
    for (const StoredFact& stored : resolved.store.facts()) {
        poll_cancellation();
        const FactEnvelope& fact = stored.fact;
        trace.fact_envelopes.push_back(
            {fact.path, fact.source_class, fact.source_id, trusted_class(fact.source_class)});
    }
    trace.fact_trust_decisions = std::move(resolved.trust_decisions);
    trace.derived_fact_lineage = std::move(resolved.derived_lineage);
    trace.conflict_resolution_steps = std::move(resolution.steps);
    trace.final_decision = resolution.decision;
    trace.claim_level = ClaimLevel::AuditBacked;
    trace.created_at = clock.now();

    AuthorityDecision& decision = result.decision;
    decision.decision_id = trace.decision_id;
    decision.request_id = trace.request_id;
    decision.final_decision = resolution.decision;
    decision.reason_code = std::move(resolution.reason_code);
    decision.trace_ref = trace.decision_id;
    for (const UnknownDecision& unknown : trace.unknown_decisions) {
        if (unknown.operator_action_hint) {
            decision.operator_action_hint = unknown.operator_action_hint;
            break;
        }
    }
    resolved.store.drop_in_steps();
    return result;
}

Result<void, AuthorityError> store_trace(const AuthorityEnvironment& environment,
                                         const EvaluationResult& result) {
    poll_cancellation_now();
    const auto appended = environment.evidence_store().append(result.trace);
    disarm_cancellation();
    if (appended == EvidenceStore::Append::Poisoned &&
        result.decision.final_decision == FinalDecision::Allow)
        return Err(AuthorityError::trace_persistence_failed());
    return Ok();
}

Result<EvaluationResult, AuthorityError> evaluate_request(const AuthorityEnvironment& environment,
                                                          const AuthorityRequest& request,
                                                          std::vector<FactEnvelope> facts,
                                                          Clock& clock) {
    VOK_ASSIGN(EvaluationResult result,
               decide_request(environment, request, std::move(facts), clock));
    VOK_TRY(store_trace(environment, result));
    return result;
}

} // namespace vok::authority
