// Conflict resolution: the applicable policies of a request resolved into one decision through a
// fixed cascade (the highest modality rank, then the highest priority, then specificity), with
// every step taken recorded for the trace and the reason code derived from the last step.
//
// Specificity compares two policies dimension by dimension of the environment's profile: a
// policy's score on a dimension counts its `applies_to` keys under that dimension (plus its `when`
// entries on a "condition" dimension). A policy at least as specific everywhere and more specific
// somewhere dominates the other; when more than one policy is left undominated, strict mode fails
// with SpecificityConflict and otherwise the request escalates. The loops over policies poll for
// cancellation (common/cancellation.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "authority/authority_error.h"
#include "authority/decision_trace.h"
#include "authority/policy_applicability.h"
#include "authority/undominated_rows.h"

namespace vok::authority {

// Permission 2, Obligation 3, Prohibition 4, Override 5.
uint32_t modality_rank(PolicyModality modality);

using SpecificityScores = std::vector<std::pair<std::string_view, uint32_t>>;

// One score per dimension, in the profile's order; the names view `dimensions`.
SpecificityScores specificity_scores(const AuthorityPolicy& policy,
                                     const std::vector<std::string>& dimensions);
// The score of the first entry named `dimension`, or 0.
uint32_t dimension_score(const SpecificityScores& scores, std::string_view dimension);

struct Resolution {
    FinalDecision decision = FinalDecision::NotApplicable;
    std::string reason_code;
    std::vector<ConflictResolutionStep> steps;
};

// Resolves the applicable evaluations of `applicability`. Fails only in strict mode, on
// incomparable specificity.
Result<Resolution, AuthorityError> resolve_conflicts(const Applicability& applicability,
                                                     const std::vector<std::string>& dimensions,
                                                     bool strict_mode);

} // namespace vok::authority
