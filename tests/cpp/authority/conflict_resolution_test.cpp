// Conflict resolution against the cascade written out directly, with specificity comparing every
// pair: the same steps, decision, reason code and SpecificityConflict on generated policies
// (modalities, priorities, keys that name dimensions exactly, through dotted parts or not at all,
// `when` entries, dimension lists with repeats, and dimensions of a policy's own).
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "authority/all_pairs_dominance.h"
#include "authority/conflict_resolution.h"

namespace vok::authority {
namespace {

struct Outcome {
    std::vector<ConflictResolutionStep> steps;
    FinalDecision decision = FinalDecision::NotApplicable;
    std::string reason_code;
    std::optional<std::string> error;
};

std::string joined(const std::vector<const PolicyEvaluation*>& members) {
    std::string out;
    for (size_t i = 0; i < members.size(); ++i)
        out += (i == 0 ? "" : ",") + members[i]->policy->policy_id;
    return out;
}

// The cascade step by step; specificity over the scores of each distinct dimension name.
Outcome resolve_directly(const Applicability& applicability,
                         const std::vector<std::string>& dimensions, bool strict) {
    Outcome out;
    std::vector<const PolicyEvaluation*> members;
    for (size_t i : applicability.applicable)
        members.push_back(&applicability.evaluations[i]);
    auto decide = [&](const char* step, const PolicyEvaluation* member) {
        out.decision = policy_outcome(*member);
        out.steps.push_back(
            {step, member->policy->policy_id, std::string(variant_name(out.decision))});
    };
    auto keep_highest = [&](auto key) {
        auto highest = key(members.front());
        for (const auto* m : members)
            highest = std::max(highest, key(m));
        std::erase_if(members, [&](const auto* m) { return key(m) != highest; });
        return highest;
    };
    auto finish = [&] {
        out.reason_code =
            std::string(outcome_word(out.decision)) + "_by_" + out.steps.back().policy_id;
        return out;
    };
    if (members.size() == 1) {
        decide("single_applicable", members.front());
        return finish();
    }
    const int rank = keep_highest([](const PolicyEvaluation* m) {
        switch (m->policy->modality) {
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
    });
    out.steps.push_back(
        {"modality_precedence", joined(members), "modality_rank=" + std::to_string(rank)});
    if (members.size() == 1) {
        decide("modality_resolved", members.front());
        return finish();
    }
    const int32_t priority =
        keep_highest([](const PolicyEvaluation* m) { return m->policy->priority; });
    out.steps.push_back(
        {"priority_filter", joined(members), "priority=" + std::to_string(priority)});
    if (members.size() == 1) {
        decide("highest_priority", members.front());
        return finish();
    }
    testing::DenseRows rows;
    for (const auto* member : members) {
        const SpecificityScores scores = specificity_scores(*member->policy, dimensions);
        std::vector<uint32_t> row;
        for (size_t k = 0; k < dimensions.size(); ++k)
            if (std::find(dimensions.begin(), dimensions.begin() + static_cast<long>(k),
                          dimensions[k]) == dimensions.begin() + static_cast<long>(k))
                row.push_back(dimension_score(scores, dimensions[k]));
        rows.push_back(std::move(row));
    }
    std::vector<const PolicyEvaluation*> kept;
    for (size_t i : testing::all_pairs_undominated(rows))
        kept.push_back(members[i]);
    if (kept.size() == 1) {
        decide("specificity_resolved", kept.front());
        return finish();
    }
    out.steps.push_back({"specificity_incomparable", joined(kept), "incomparable"});
    if (strict) {
        out.error = "[SpecificityConflict] Incomparable specificity between '" +
                    kept[0]->policy->policy_id + "' and '" + kept[1]->policy->policy_id + "'";
    }
    out.decision = FinalDecision::Escalate;
    return finish();
}

TEST(Specificity, ResolutionAsTheCascadeComparingEveryPair) {
    const std::vector<std::string> keys = {"actor",    "actor.role", "actor.role.x",
                                           "resource", "a..b",       ".x",
                                           "",         "actorx",     "condition.y"};
    const std::vector<std::string> names = {"actor", "resource",   "condition", "",
                                            "a.",    "actor.role", "a"};
    const PolicyModality modalities[] = {PolicyModality::Permission, PolicyModality::Permission,
                                         PolicyModality::Obligation, PolicyModality::Prohibition,
                                         PolicyModality::Override};
    std::mt19937 random(9);
    auto draw = [&](size_t below) {
        return std::uniform_int_distribution<size_t>(0, below - 1)(random);
    };
    for (int round = 0; round < 3'000; ++round) {
        // Every thirtieth set is larger, and each of its policies may score on a dimension of
        // its own, which leaves many policies incomparable.
        const bool large = round % 30 == 0;
        const size_t count = large ? 20 + draw(120) : 1 + draw(9);
        std::vector<std::string> dimensions(draw(large ? 3 : 6));
        for (auto& d : dimensions)
            d = names[draw(names.size())];
        std::vector<AuthorityPolicy> policies(count);
        for (size_t i = 0; i < policies.size(); ++i) {
            AuthorityPolicy& policy = policies[i];
            policy.policy_id = "p" + std::to_string(i);
            policy.modality = large ? PolicyModality::Permission : modalities[draw(5)];
            policy.priority = large ? 0 : static_cast<int32_t>(draw(2)) - 1;
            std::vector<json::Object::Entry> entries;
            for (size_t k = draw(4); k > 0; --k)
                entries.emplace_back(keys[draw(keys.size())], json::Value());
            if (large && draw(4) != 0) {
                dimensions.push_back("own" + std::to_string(i));
                entries.emplace_back(dimensions.back() + (draw(2) ? "" : ".x"), json::Value());
            }
            policy.applies_to.predicates = json::Object::from_entries(std::move(entries));
            if (draw(2) == 0) {
                ConditionPredicates when;
                if (draw(3) != 0)
                    when.predicates = json::Object::from_entries({{"f", json::Value()}});
                policy.when = std::move(when);
            }
        }
        std::shuffle(dimensions.begin(), dimensions.end(), random);
        Applicability applicability;
        for (const AuthorityPolicy& policy : policies) {
            PolicyEvaluation evaluation;
            evaluation.policy = &policy;
            if (draw(4) == 0) {
                evaluation.unknown_handling_applied = true;
                evaluation.unknown_default = FinalDecision::Escalate;
            }
            applicability.applicable.push_back(applicability.evaluations.size());
            applicability.evaluations.push_back(std::move(evaluation));
        }
        const bool strict = draw(2) == 0;
        const Outcome expected = resolve_directly(applicability, dimensions, strict);
        auto resolution = resolve_conflicts(applicability, dimensions, strict);
        ASSERT_EQ(resolution.ok(), !expected.error) << "round " << round;
        if (!resolution.ok()) {
            EXPECT_EQ(resolution.error().to_string(), *expected.error) << "round " << round;
            continue;
        }
        ASSERT_EQ(resolution->steps.size(), expected.steps.size()) << "round " << round;
        for (size_t s = 0; s < expected.steps.size(); ++s) {
            EXPECT_EQ(resolution->steps[s].step, expected.steps[s].step) << "round " << round;
            EXPECT_EQ(resolution->steps[s].policy_id, expected.steps[s].policy_id)
                << "round " << round << ", step " << s;
            EXPECT_EQ(resolution->steps[s].result, expected.steps[s].result) << "round " << round;
        }
        EXPECT_EQ(resolution->decision, expected.decision) << "round " << round;
        EXPECT_EQ(resolution->reason_code, expected.reason_code) << "round " << round;
    }
}

} // namespace
} // namespace vok::authority
