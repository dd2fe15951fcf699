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

// Whether `a` is at least `b` on every dimension and above it on one or more. Both lists hold
// the profile's dimensions in order, so a dimension's score is the entry at the position where
// its name first occurs; `firsts` lists those positions, one per distinct name.
bool dominates(const SpecificityScores& a, const SpecificityScores& b,
               const std::vector<size_t>& firsts) {
    bool above = false;
    for (size_t k : firsts) {
        if (a[k].second < b[k].second) return false;
        above = above || a[k].second > b[k].second;
    }
    return above;
}

// The members left undominated, in order. The loop over j goes on after i is found dominated,
// so a dominated i can still mark later members dominated.
Members undominated(const Members& members, const std::vector<std::string>& dimensions) {
    std::vector<size_t> firsts;
    for (size_t k = 0; k < dimensions.size(); ++k) {
        bool seen = false;
        for (size_t f : firsts)
            seen = seen || dimensions[f] == dimensions[k];
        if (!seen) firsts.push_back(k);
    }
    std::vector<SpecificityScores> scores;
    scores.reserve(members.size());
    for (const PolicyEvaluation* member : members)
        scores.push_back(specificity_scores(*member->policy, dimensions));
    std::vector<bool> dominated(members.size(), false);
    for (size_t i = 0; i < members.size(); ++i) {
        if (dominated[i]) continue;
        for (size_t j = 0; j < members.size(); ++j) {
            if (j == i || dominated[j]) continue;
            if (dominates(scores[i], scores[j], firsts)) {
                dominated[j] = true;
            } else if (dominates(scores[j], scores[i], firsts)) {
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
    for (const std::string& dimension : dimensions) {
        uint32_t score = 0;
        for (const auto& entry : policy.applies_to.predicates) {
            const std::string& key = entry.first;
            if (key == dimension || (key.size() > dimension.size() && key.starts_with(dimension) &&
                                     key[dimension.size()] == '.'))
                ++score;
        }
        scores.emplace_back(dimension, score);
    }
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
