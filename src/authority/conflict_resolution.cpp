// Conflict resolution; the definitions behind conflict_resolution.h.
#include "authority/conflict_resolution.h"

#include <algorithm>

namespace vok::authority {

namespace {

std::string_view decision_word(FinalDecision decision) {
    switch (decision) {
    case FinalDecision::Allow:
        return "allowed";
    case FinalDecision::Deny:
        return "denied";
    case FinalDecision::Escalate:
        return "escalated";
    case FinalDecision::NotApplicable:
        return "not_applicable";
    case FinalDecision::Reject:
        return "rejected";
    }
    return "";
}

using Members = std::vector<const PolicyEvaluation*>;

std::string joined_ids(const Members& members) {
    std::string out;
    out.reserve(members.size() * 8);
    for (const PolicyEvaluation* member : members) {
        if (!out.empty()) out += ',';
        out += member->policy->policy_id;
    }
    return out;
}

// Keeps, in order, the members whose key equals the highest key among them.
template <class Key> Members keep_highest(const Members& members, Key key) {
    auto highest = key(*members.front());
    for (const PolicyEvaluation* member : members)
        highest = std::max(highest, key(*member));
    Members kept;
    kept.reserve(members.size());
    for (const PolicyEvaluation* member : members)
        if (key(*member) == highest) kept.push_back(member);
    return kept;
}

// How many structural keys of `policy` name `dimension` or a dotted part of it.
uint32_t structural_matches(const AuthorityPolicy& policy, const std::string& dimension) {
    uint32_t score = 0;
    for (const auto& entry : policy.applies_to.predicates) {
        const std::string& key = entry.first;
        if (key == dimension || (key.size() > dimension.size() && key.starts_with(dimension) &&
                                 key[dimension.size()] == '.'))
            ++score;
    }
    return score;
}

// Whether `a` is at least `b` on every dimension and above it on one or more; both hold one
// score per distinct dimension name.
bool dominates(const uint32_t* a, const uint32_t* b, size_t count) {
    bool above = false;
    for (size_t k = 0; k < count; ++k) {
        if (a[k] < b[k]) return false;
        above = above || a[k] > b[k];
    }
    return above;
}

// The score of `policy` on the dimension named `dimension`, as `specificity_scores` gives it for
// the first entry of that name.
uint32_t first_entry_score(const AuthorityPolicy& policy, const std::string& dimension) {
    uint32_t score = structural_matches(policy, dimension);
    if (policy.when && dimension == "condition")
        score += static_cast<uint32_t>(policy.when->predicates.size());
    return score;
}

// The members left undominated, in order. A dimension named twice counts once, by its first
// entry. The loop over j goes on after i is found dominated, so a dominated i can still mark
// later members dominated.
Members undominated(const Members& members, const std::vector<std::string>& dimensions) {
    std::vector<size_t> firsts;
    for (size_t k = 0; k < dimensions.size(); ++k) {
        bool seen = false;
        for (size_t f : firsts)
            seen = seen || dimensions[f] == dimensions[k];
        if (!seen) firsts.push_back(k);
    }
    // One flat row of scores per member, computed once rather than per comparison.
    const size_t width = firsts.size();
    std::vector<uint32_t> scores;
    scores.reserve(members.size() * width);
    for (const PolicyEvaluation* member : members)
        for (size_t k : firsts)
            scores.push_back(first_entry_score(*member->policy, dimensions[k]));
    auto row = [&](size_t i) { return scores.data() + i * width; };
    std::vector<bool> dominated(members.size(), false);
    for (size_t i = 0; i < members.size(); ++i) {
        if (dominated[i]) continue;
        for (size_t j = 0; j < members.size(); ++j) {
            if (j == i || dominated[j]) continue;
            if (dominates(row(i), row(j), width)) {
                dominated[j] = true;
            } else if (dominates(row(j), row(i), width)) {
                dominated[i] = true;
            }
        }
    }
    Members kept;
    for (size_t i = 0; i < members.size(); ++i)
        if (!dominated[i]) kept.push_back(members[i]);
    return kept;
}

} // namespace

uint32_t modality_rank(PolicyModality modality) {
    switch (modality) {
    case PolicyModality::Permission:
        return 2;
    case PolicyModality::Obligation:
        return 3;
    case PolicyModality::Prohibition:
        return 4;
    case PolicyModality::Override:
        return 5;
    }
    return 0;
}

SpecificityScores specificity_scores(const AuthorityPolicy& policy,
                                     const std::vector<std::string>& dimensions) {
    SpecificityScores scores;
    scores.reserve(dimensions.size());
    for (const std::string& dimension : dimensions)
        scores.emplace_back(dimension, structural_matches(policy, dimension));
    if (policy.when) {
        for (auto& entry : scores) {
            if (entry.first == "condition") {
                entry.second += static_cast<uint32_t>(policy.when->predicates.size());
                break;
            }
        }
    }
    return scores;
}

uint32_t dimension_score(const SpecificityScores& scores, std::string_view dimension) {
    for (const auto& entry : scores)
        if (entry.first == dimension) return entry.second;
    return 0;
}

Result<Resolution, AuthorityError> resolve_conflicts(const Applicability& applicability,
                                                     const std::vector<std::string>& dimensions,
                                                     bool strict_mode) {
    Resolution r;
    if (applicability.evaluations.empty()) {
        r.reason_code = "no_applicable_policy";
        return r;
    }
    if (applicability.applicable.empty()) {
        r.reason_code = "no_applicable_policy_after_evaluation";
        return r;
    }

    Members members;
    members.reserve(applicability.applicable.size());
    for (size_t position : applicability.applicable)
        members.push_back(&applicability.evaluations[position]);

    auto decided_by = [&](const char* step, const PolicyEvaluation& evaluation) {
        r.decision = policy_outcome(evaluation);
        r.steps.push_back(
            {step, evaluation.policy->policy_id, std::string(variant_name(r.decision))});
    };

    if (members.size() == 1) {
        decided_by("single_applicable", *members.front());
    } else {
        members = keep_highest(
            members, [](const PolicyEvaluation& e) { return modality_rank(e.policy->modality); });
        r.steps.push_back(
            {"modality_precedence", joined_ids(members),
             "modality_rank=" + std::to_string(modality_rank(members.front()->policy->modality))});
        if (members.size() == 1) {
            decided_by("modality_resolved", *members.front());
        } else {
            members =
                keep_highest(members, [](const PolicyEvaluation& e) { return e.policy->priority; });
            r.steps.push_back({"priority_filter", joined_ids(members),
                               "priority=" + std::to_string(members.front()->policy->priority)});
            if (members.size() == 1) {
                decided_by("highest_priority", *members.front());
            } else {
                members = undominated(members, dimensions);
                if (members.size() == 1) {
                    decided_by("specificity_resolved", *members.front());
                } else {
                    r.steps.push_back(
                        {"specificity_incomparable", joined_ids(members), "incomparable"});
                    if (strict_mode) {
                        return Err(AuthorityError::incomparable_specificity(
                            members.empty() ? "?" : members[0]->policy->policy_id,
                            members.size() < 2 ? "?" : members[1]->policy->policy_id));
                    }
                    r.decision = FinalDecision::Escalate;
                }
            }
        }
    }

    r.reason_code = std::string(decision_word(r.decision));
    if (r.steps.empty()) {
        r.reason_code = "resolver";
    } else {
        r.reason_code += "_by_";
        r.reason_code += r.steps.back().policy_id;
    }
    return r;
}

} // namespace vok::authority
