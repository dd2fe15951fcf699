// Which policies concern a request, and what each of them says about it; the definitions behind
// policy_applicability.h.
#include "authority/policy_applicability.h"

#include <algorithm>
#include <string>

#include "common/cancellation.h"

namespace vok::authority {

namespace {

// The request part a structural key names: a text, an absent optional text, or (for any other
// key) a metadata value. Viewing rather than building a json::Value keeps matching free of
// allocations.
struct StructuralPart {
    enum class Kind : uint8_t { Text, Absent, Metadata } kind;
    std::string_view text;
    const json::Value* metadata = nullptr;
};

StructuralPart optional_text(const std::optional<std::string>& value) {
    if (!value) return {StructuralPart::Kind::Absent, {}};
    return {StructuralPart::Kind::Text, *value};
}

StructuralPart structural_part(const AuthorityRequest& request, std::string_view key) {
    if (key == "action") return {StructuralPart::Kind::Text, request.operation};
    if (key == "actor.id") return {StructuralPart::Kind::Text, request.actor.id};
    if (key == "actor.role") return optional_text(request.actor.role);
    if (key == "resource.id") return optional_text(request.resource.id);
    if (key == "resource.type") return optional_text(request.resource.type);
    const json::Value* value = request.metadata.find(key);
    if (!value) return {StructuralPart::Kind::Absent, {}};
    return {StructuralPart::Kind::Metadata, {}, value};
}

bool part_equals(const StructuralPart& part, const json::Value& expected) {
    switch (part.kind) {
    case StructuralPart::Kind::Text:
        return expected.is_string() && expected.as_string() == part.text;
    case StructuralPart::Kind::Absent:
        return expected.is_null();
    case StructuralPart::Kind::Metadata:
        return *part.metadata == expected;
    }
    return false;
}

bool contains(const std::vector<SourceClass>& classes, SourceClass value) {
    return std::find(classes.begin(), classes.end(), value) != classes.end();
}

__int128 total_nanos(int64_t seconds, uint32_t nanos) {
    return static_cast<__int128>(seconds) * 1'000'000'000 + nanos;
}

enum class ConditionResult : uint8_t { Pass, Fail, Unknown };

ConditionResult condition_result(const FactStore& store, std::string_view path,
                                 const json::Value& expected) {
    const StoredFact* fact = store.first(path);
    if (!fact || fact->fact.value.is_null()) return ConditionResult::Unknown;
    if (expected.is_object()) {
        if (const json::Value* unwanted = expected.as_object().find("__neq"))
            return fact->fact.value == *unwanted ? ConditionResult::Fail : ConditionResult::Pass;
    }
    return fact->fact.value == expected ? ConditionResult::Pass : ConditionResult::Fail;
}

PolicyStatus condition_status(const ConditionPredicates& when, const FactStore& store) {
    bool unknown = false;
    for (const auto& [path, expected] : when.predicates) {
        poll_cancellation();
        switch (condition_result(store, path, expected)) {
        case ConditionResult::Fail:
            return PolicyStatus::NotSatisfied; // a fail outweighs any unknown
        case ConditionResult::Unknown:
            unknown = true;
            break;
        case ConditionResult::Pass:
            break;
        }
    }
    return unknown ? PolicyStatus::Unknown : PolicyStatus::Satisfied;
}

UnknownDecision unknown_decision(const PolicyEvaluation& evaluation, FinalDecision default_result) {
    UnknownDecision d;
    d.policy_id = evaluation.policy->policy_id;
    d.unknown_handling_applied = true;
    d.unknown_modality = evaluation.policy->modality;
    d.unknown_default_result = default_result;
    for (const RequirementResult& r : evaluation.requirement_results)
        if (!r.met()) d.affected_fact_paths.push_back(r.requirement->fact_path);
    const bool missing = !d.affected_fact_paths.empty();
    d.unknown_reason = missing ? "missing" : "unknown";
    d.availability_classification = missing ? "caller_omission" : "availability_failure";
    return d;
}

PolicyEvaluation evaluate_policy(const AuthorityPolicy& policy, const FactStore& store,
                                 const UnknownHandlingConfig& defaults, UtcInstant now) {
    PolicyEvaluation evaluation;
    evaluation.policy = &policy;
    evaluation.requirement_results.reserve(policy.requires_fact.size());
    bool all_met = true;
    for (const FactRequirement& requirement : policy.requires_fact) {
        poll_cancellation();
        RequirementResult result{&requirement, nullptr};
        for (size_t position : store.positions(requirement.fact_path)) {
            poll_cancellation();
            const StoredFact& stored = store.facts()[position];
            if (meets_requirement(requirement, stored, now)) {
                result.matched = &stored;
                break;
            }
        }
        all_met = all_met && result.met();
        evaluation.requirement_results.push_back(result);
    }

    if (!all_met) {
        evaluation.status = PolicyStatus::Unknown;
    } else if (policy.when && !policy.when->predicates.empty()) {
        evaluation.status = condition_status(*policy.when, store);
    }

    if (evaluation.status == PolicyStatus::Unknown) {
        const FinalDecision default_result = defaults.default_for(policy.modality);
        evaluation.unknown_handling_applied = true;
        evaluation.unknown_default = default_result;
        evaluation.unknown_decision = unknown_decision(evaluation, default_result);
    }
    return evaluation;
}

} // namespace

bool is_candidate(const AuthorityPolicy& policy, const AuthorityRequest& request) {
    for (const auto& [key, expected] : policy.applies_to.predicates)
        if (!part_equals(structural_part(request, key), expected)) return false;
    return true;
}

bool meets_requirement(const FactRequirement& requirement, const StoredFact& stored,
                       UtcInstant now) {
    const FactEnvelope& fact = stored.fact;
    if (fact.path != requirement.fact_path) return false;
    if (!contains(requirement.allowed_source_classes, trust_class(stored))) return false;
    if (!requirement.allowed_source_ids.empty() &&
        std::find(requirement.allowed_source_ids.begin(), requirement.allowed_source_ids.end(),
                  fact.source_id) == requirement.allowed_source_ids.end())
        return false;
    if (requirement.evidence_ref_required && !fact.evidence_ref) return false;
    if (requirement.signature_required && !fact.signature) return false;
    // Written as a positive test so that a NaN on either side fails.
    if (requirement.minimum_confidence &&
        !(fact.confidence && *fact.confidence >= *requirement.minimum_confidence))
        return false;
    if (requirement.derived_from_source) {
        const std::vector<SourceClass>& allowed = *requirement.derived_from_source;
        if (fact.lineage) {
            for (SourceClass input : fact.lineage->input_source_classes)
                if (!contains(allowed, input)) return false;
        } else if (fact.source_class == SourceClass::Derived) {
            return false;
        }
    }
    if (requirement.max_age) {
        const __int128 oldest =
            total_nanos(now.seconds, now.nanos) -
            total_nanos(requirement.max_age->seconds, requirement.max_age->nanos);
        if (total_nanos(fact.observed_at.seconds, fact.observed_at.nanos) < oldest) return false;
    }
    return true;
}

Applicability evaluate_policies(const AuthorityEnvironment& environment,
                                const AuthorityRequest& request, const FactStore& store,
                                Clock& clock) {
    Applicability out;
    // Requests usually make a handful of policies candidates; reserving for that many saves the
    // early regrowths, each of which would move every evaluation made so far.
    size_t policy_count = 0;
    for (const AuthorityPack& pack : environment.packs())
        policy_count += pack.policies.size();
    out.evaluations.reserve(std::min<size_t>(policy_count, 16));
    out.applicable.reserve(std::min<size_t>(policy_count, 16));
    // Telling a candidate costs a few comparisons, so the poll (a thread-local access) comes once
    // every 64 policies; each candidate's evaluation polls on its own.
    size_t scanned = 0;
    for (const AuthorityPack& pack : environment.packs()) {
        for (const AuthorityPolicy& policy : pack.policies) {
            if (++scanned % 64 == 0) poll_cancellation();
            if (!is_candidate(policy, request)) continue;
            const UtcInstant now = clock.now();
            out.evaluations.push_back(
                evaluate_policy(policy, store, environment.unknown_handling(), now));
            const PolicyEvaluation& evaluation = out.evaluations.back();
            const bool applicable = evaluation.status == PolicyStatus::Satisfied ||
                                    (evaluation.status == PolicyStatus::Unknown &&
                                     evaluation.unknown_default != FinalDecision::NotApplicable);
            if (applicable) out.applicable.push_back(out.evaluations.size() - 1);
        }
    }
    return out;
}

FinalDecision modality_decision(PolicyModality modality, bool not_satisfied) {
    if (not_satisfied) return FinalDecision::NotApplicable;
    return modality == PolicyModality::Prohibition ? FinalDecision::Deny : FinalDecision::Allow;
}

FinalDecision policy_outcome(const PolicyEvaluation& evaluation) {
    if (evaluation.unknown_handling_applied && evaluation.unknown_default)
        return *evaluation.unknown_default;
    return modality_decision(evaluation.policy->modality,
                             evaluation.status == PolicyStatus::NotSatisfied);
}

} // namespace vok::authority
