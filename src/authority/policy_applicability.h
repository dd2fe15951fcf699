// Which policies concern a request, and what each of them says about it.
//
// A policy is a candidate when every structural predicate of its `applies_to` equals the matching
// part of the request (compared as JSON values, so 1 and 1.0 differ). Each candidate is then
// evaluated against the facts: its fact requirements first (each met by the first fact of the path
// that passes the requirement's tests on the fact's trust class, source, evidence, signature,
// confidence, derivation and age), then its `when` conditions on the first fact of each path,
// whatever its class. A policy that cannot be decided falls back to the unknown-handling default
// of its modality and records an `UnknownDecision`.
//
// The evaluations point into the environment's packs and the fact store, which must outlive them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "authority/authority_policy.h"
#include "authority/clock.h"
#include "authority/decision_trace.h"
#include "authority/environment.h"
#include "authority/fact_store.h"
#include "authority/request.h"
#include "json/value.h"

namespace vok::authority {

enum class PolicyStatus : uint8_t { Satisfied, NotSatisfied, Unknown };

struct RequirementResult {
    const FactRequirement* requirement = nullptr;
    // The first fact that passes every test, or null when the requirement is unmet.
    const StoredFact* matched = nullptr;
    bool met() const { return matched != nullptr; }
};

struct PolicyEvaluation {
    const AuthorityPolicy* policy = nullptr;
    std::vector<RequirementResult> requirement_results;
    // Present exactly when the status is unknown.
    std::optional<UnknownDecision> unknown_decision;
    bool unknown_handling_applied = false;
    PolicyStatus status = PolicyStatus::Satisfied;
    // The modality's default when the status is unknown.
    std::optional<FinalDecision> unknown_default;
};

struct Applicability {
    // The candidate policies in pack order, then policy order; one evaluation each.
    std::vector<PolicyEvaluation> evaluations;
    // Positions in `evaluations` of the applicable policies, in candidate order.
    std::vector<size_t> applicable;
};

// Whether every structural predicate of `policy` equals the request's value for its key:
// "action", "actor.id", "actor.role", "resource.id", "resource.type", or else the value under the
// whole key in the metadata; an absent value is null.
bool is_candidate(const AuthorityPolicy& policy, const AuthorityRequest& request);

// Whether `stored` meets `requirement` at `now`. The age limit is computed in 128 bits, so no
// `max_age` overflows: a huge positive age admits every fact, a huge negative one none.
bool meets_requirement(const FactRequirement& requirement, const StoredFact& stored,
                       UtcInstant now);

// Finds the candidates and evaluates each, reading the clock once per candidate. Never fails.
Applicability evaluate_policies(const AuthorityEnvironment& environment,
                                const AuthorityRequest& request, const FactStore& store,
                                Clock& clock);

// NotApplicable when `not_satisfied`; otherwise Deny for a prohibition and Allow for the others.
FinalDecision modality_decision(PolicyModality modality, bool not_satisfied);

// The decision of one evaluated policy: its unknown default when unknown handling was applied,
// otherwise the decision of its modality.
FinalDecision policy_outcome(const PolicyEvaluation& evaluation);

} // namespace vok::authority
