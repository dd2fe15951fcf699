// DecisionTrace: the full record of how one decision was reached, with the records it lists, and
// its JSON document.
//
// The trace is returned to the caller and kept in the environment's evidence store. Its document
// is compact JSON whose keys come in a fixed order; a key whose value is optional is written only
// when the value is present, except `validation_suite_ref`, which is always written (null when
// absent). Source classes and decisions are written under their JSON names, modalities and claim
// levels under their variant names. The lists keep evaluation order.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "authority/derived_fact_lineage.h"
#include "authority/enumerations.h"
#include "time/rfc3339.h"

namespace vok::authority {

// One fact of the evaluation's final fact store, as the trace shows it.
struct TraceFactEnvelope {
    std::string path;
    SourceClass source_class = SourceClass::UnknownSource;
    std::string source_id;
    bool trusted = false;
};

// Whether one incoming fact envelope was trusted, and why.
struct FactTrustDecision {
    std::string fact_path;
    std::vector<SourceClass> required_sources;
    SourceClass observed_source = SourceClass::UnknownSource;
    bool trusted = false;
    std::string reason;
    std::optional<std::string> evidence_ref;
};

// The default a policy fell back to because facts it needed were unknown.
struct UnknownDecision {
    std::string policy_id;
    bool unknown_handling_applied = false;
    PolicyModality unknown_modality = PolicyModality::Permission;
    FinalDecision unknown_default_result = FinalDecision::Deny;
    std::string unknown_reason;
    std::vector<std::string> affected_fact_paths;
    std::vector<std::string> fact_source_ids;
    std::string availability_classification;
    std::optional<std::string> operator_action_hint;
};

struct CompatibilityLoweringDecision {
    std::string policy_id;
    std::string original_expression;
    bool lowered = false;
    std::optional<std::string> reason;
};

// One step of conflict resolution: `policy_id` names one policy or several joined with ",".
struct ConflictResolutionStep {
    std::string step;
    std::string policy_id;
    std::string result;
};

struct DecisionTrace {
    std::string decision_id;
    std::string request_id;
    std::string ir_hash;
    std::vector<std::string> pack_hashes;
    std::string resolver_version;
    std::string resolver_semantics_version;
    std::string resolver_semantics_hash;
    std::string specificity_profile_id;
    std::string specificity_profile_hash;
    std::string specificity_profile_source;
    std::vector<std::string> specificity_profile_conflicts;
    std::string unknown_handling_config_hash;
    std::string compatibility_lowering_version;
    std::string action_request_hash;
    std::vector<TraceFactEnvelope> fact_envelopes;
    std::vector<FactTrustDecision> fact_trust_decisions;
    std::vector<DerivedFactLineage> derived_fact_lineage;
    std::vector<std::string> candidate_policies;
    std::vector<std::string> applicable_policies;
    std::vector<std::string> incomparable_policies;
    std::vector<UnknownDecision> unknown_decisions;
    std::vector<CompatibilityLoweringDecision> compatibility_lowering_decisions;
    std::vector<ConflictResolutionStep> conflict_resolution_steps;
    FinalDecision final_decision = FinalDecision::NotApplicable;
    ClaimLevel claim_level = ClaimLevel::AuditBacked;
    std::optional<std::string> validation_suite_ref;
    // Written as RFC 3339 text with the offset "+00:00".
    UtcInstant created_at;
};

// The trace document: 27 keys in field order. Writing into memory cannot fail.
std::string serialize_decision_trace(const DecisionTrace& trace);

} // namespace vok::authority
