// Conflict resolution; the definitions behind conflict_resolution.h.
#include "authority/conflict_resolution.h"

#include <algorithm>
#include <functional>
#include <optional>

#include "common/cancellation.h"
#include "common/position_table.h"

namespace vok::authority {

namespace {

using Members = std::vector<const PolicyEvaluation*>;

std::string joined_ids(const Members& members) {
    std::string out;
    out.reserve(members.size() * 8);
    for (const PolicyEvaluation* member : members) {
        poll_cancellation();
        if (!out.empty()) out += ',';
        out += member->policy->policy_id;
    }
    return out;
}

// Keeps, in order, the members whose key equals the highest key among them. Members are read
// once more only when some are dropped: with many tied policies the reads are cache misses.
template <class Key> Members keep_highest(const Members& members, Key key) {
    auto highest = key(*members.front());
    size_t at_highest = 0;
    for (const PolicyEvaluation* member : members) {
        poll_cancellation();
        const auto k = key(*member);
        if (k > highest) {
            highest = k;
            at_highest = 0;
        }
        if (k == highest) ++at_highest;
    }
    if (at_highest == members.size()) return members;
    Members kept;
    kept.reserve(at_highest);
    for (const PolicyEvaluation* member : members) {
        poll_cancellation();
        if (key(*member) == highest) kept.push_back(member);
    }
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

// One row of scores per member, over the distinct dimension names (a name given twice counts
// once, by its first entry, whose position is its column). A key scores on every dimension that
// is the key itself or a part of it ending before a dot, so the dimensions a key can name are
// looked up by its prefixes. A profile may have as many dimensions as there are policies, so the
// names are found through an open-addressing index rather than a node per name.
std::vector<SparseScores> member_scores(const Members& members,
                                        const std::vector<std::string>& dimensions) {
    const auto hash = [](std::string_view name) {
        return PositionTable::fold(std::hash<std::string_view>{}(name));
    };
    PositionTable columns;
    columns.reserve(dimensions.size());
    for (size_t i = 0; i < dimensions.size(); ++i) {
        poll_cancellation();
        columns.insert(hash(dimensions[i]), i,
                       [&](size_t other) { return dimensions[other] == dimensions[i]; });
    }
    const auto column_of = [&](std::string_view name) {
        return columns.find(hash(name), [&](size_t at) { return dimensions[at] == name; });
    };
    const std::optional<size_t> found_condition = column_of("condition");
    const auto condition = static_cast<uint32_t>(found_condition.value_or(0));
    std::vector<SparseScores> rows;
    rows.reserve(members.size());
    std::vector<uint32_t> hits;
    for (const PolicyEvaluation* member : members) {
        const AuthorityPolicy& policy = *member->policy;
        hits.clear();
        for (const auto& entry : policy.applies_to.predicates) {
            poll_cancellation();
            const std::string_view key = entry.first;
            for (std::size_t end = key.find('.');; end = key.find('.', end + 1)) {
                if (const auto found = column_of(key.substr(0, end)))
                    hits.push_back(static_cast<uint32_t>(*found));
                if (end == std::string_view::npos) break;
            }
        }
        std::sort(hits.begin(), hits.end());
        SparseScores row;
        for (uint32_t column : hits) {
            if (!row.empty() && row.back().first == column) {
                ++row.back().second;
            } else {
                row.emplace_back(column, 1);
            }
        }
        if (policy.when && found_condition && !policy.when->predicates.empty()) {
            const auto when = static_cast<uint32_t>(policy.when->predicates.size());
            const auto at = std::lower_bound(
                row.begin(), row.end(), condition,
                [](const std::pair<uint32_t, uint32_t>& e, uint32_t c) { return e.first < c; });
            if (at != row.end() && at->first == condition) {
                at->second += when;
            } else {
                row.insert(at, {condition, when});
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// The members left undominated, in order.
Members undominated(const Members& members, const std::vector<std::string>& dimensions) {
    const std::vector<size_t> kept = undominated_rows(member_scores(members, dimensions));
    Members out;
    out.reserve(kept.size());
    for (size_t i : kept)
        out.push_back(members[i]);
    return out;
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
    for (size_t position : applicability.applicable) {
        poll_cancellation();
        members.push_back(&applicability.evaluations[position]);
    }

    auto decided_by = [&](const char* step, const PolicyEvaluation& evaluation) {
        r.decision = policy_outcome(evaluation);
        r.steps.push_back(
            {step, evaluation.policy->policy_id, std::string(variant_name(r.decision))});
    };

    // Each step keeps a subsequence of the members, so a step that keeps as many keeps them all
    // and their joined ids stay as they were.
    std::string ids;
    size_t ids_count = 0;
    auto member_ids = [&]() -> const std::string& {
        if (ids_count != members.size()) {
            ids = joined_ids(members);
            ids_count = members.size();
        }
        return ids;
    };

    if (members.size() == 1) {
        decided_by("single_applicable", *members.front());
    } else {
        members = keep_highest(
            members, [](const PolicyEvaluation& e) { return modality_rank(e.policy->modality); });
        r.steps.push_back(
            {"modality_precedence", member_ids(),
             "modality_rank=" + std::to_string(modality_rank(members.front()->policy->modality))});
        if (members.size() == 1) {
            decided_by("modality_resolved", *members.front());
        } else {
            members =
                keep_highest(members, [](const PolicyEvaluation& e) { return e.policy->priority; });
            r.steps.push_back({"priority_filter", member_ids(),
                               "priority=" + std::to_string(members.front()->policy->priority)});
            if (members.size() == 1) {
                decided_by("highest_priority", *members.front());
            } else {
                members = undominated(members, dimensions);
                if (members.size() == 1) {
                    decided_by("specificity_resolved", *members.front());
                } else {
                    r.steps.push_back({"specificity_incomparable", member_ids(), "incomparable"});
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

    r.reason_code = std::string(outcome_word(r.decision));
    if (r.steps.empty()) {
        r.reason_code = "resolver";
    } else {
        r.reason_code += "_by_";
        r.reason_code += r.steps.back().policy_id;
    }
    return r;
}

} // namespace vok::authority
