// Specificity resolution against a plain pairwise comparison: the same undominated
// policies on generated score vectors (equal, ordered, incomparable and mixed) and on generated
// policies and dimension lists, and a cost that grows like n log n when most vectors are equal or
// ordered.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "authority/conflict_resolution.h"

namespace vok::authority {
namespace {

using Dense = std::vector<std::vector<uint32_t>>;

// The reference resolution: every pair compared, the loop over j going on after i is dominated.
std::vector<size_t> pairwise_undominated(const Dense& rows) {
    auto dominates = [](const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
        bool above = false;
        for (size_t k = 0; k < a.size(); ++k) {
            if (a[k] < b[k]) return false;
            above = above || a[k] > b[k];
        }
        return above;
    };
    std::vector<bool> dominated(rows.size(), false);
    for (size_t i = 0; i < rows.size(); ++i) {
        if (dominated[i]) continue;
        for (size_t j = 0; j < rows.size(); ++j) {
            if (j == i || dominated[j]) continue;
            if (dominates(rows[i], rows[j])) {
                dominated[j] = true;
            } else if (dominates(rows[j], rows[i])) {
                dominated[i] = true;
            }
        }
    }
    std::vector<size_t> kept;
    for (size_t i = 0; i < rows.size(); ++i)
        if (!dominated[i]) kept.push_back(i);
    return kept;
}

std::vector<SparseScores> sparse(const Dense& rows) {
    std::vector<SparseScores> out;
    for (const auto& row : rows) {
        SparseScores s;
        for (uint32_t k = 0; k < row.size(); ++k)
            if (row[k] != 0) s.emplace_back(k, row[k]);
        out.push_back(std::move(s));
    }
    return out;
}

enum class Shape { Equal, Ordered, Incomparable, Mixed };

Dense generate(Shape shape, std::mt19937& random) {
    auto draw = [&](uint32_t below) {
        return std::uniform_int_distribution<uint32_t>(0, below - 1)(random);
    };
    const size_t width = draw(5) + (shape == Shape::Incomparable ? 2 : 0);
    const size_t count = draw(40);
    Dense rows;
    std::vector<uint32_t> current(width, 0);
    for (size_t i = 0; i < count; ++i) {
        switch (shape) {
        case Shape::Equal:
            current.assign(width, 2);
            break;
        case Shape::Ordered: // a chain, with repeats, in any order
            if (width > 0 && draw(3) != 0) ++current[draw(static_cast<uint32_t>(width))];
            break;
        case Shape::Incomparable: // equal sums on the first two columns
            current[0] = draw(6);
            current[1] = 5 - current[0];
            break;
        case Shape::Mixed:
            for (auto& score : current)
                score = draw(3);
            break;
        }
        rows.push_back(current);
    }
    std::shuffle(rows.begin(), rows.end(), random);
    return rows;
}

TEST(Specificity, UndominatedRowsAsComparingEveryPair) {
    std::mt19937 random(4);
    for (Shape shape : {Shape::Equal, Shape::Ordered, Shape::Incomparable, Shape::Mixed}) {
        for (int round = 0; round < 2'000; ++round) {
            const Dense rows = generate(shape, random);
            EXPECT_EQ(undominated_rows(sparse(rows)), pairwise_undominated(rows))
                << "shape " << static_cast<int>(shape) << " round " << round;
        }
    }
}

// Whole resolutions over generated policies: keys that name dimensions exactly, through dotted
// parts, or not at all, `when` entries, and dimension lists with repeats.
TEST(Specificity, ResolutionAsComparingEveryPair) {
    const std::vector<std::string> keys = {"actor",    "actor.role", "actor.role.x",
                                           "resource", "a..b",       ".x",
                                           "",         "actorx",     "condition.y"};
    const std::vector<std::string> names = {"actor", "resource",   "condition", "",
                                            "a.",    "actor.role", "a"};
    std::mt19937 random(9);
    auto draw = [&](size_t below) {
        return std::uniform_int_distribution<size_t>(0, below - 1)(random);
    };
    for (int round = 0; round < 1'000; ++round) {
        std::vector<std::string> dimensions(draw(5));
        for (auto& d : dimensions)
            d = names[draw(names.size())];
        std::vector<AuthorityPolicy> policies(2 + draw(8));
        for (size_t i = 0; i < policies.size(); ++i) {
            policies[i].policy_id = "p" + std::to_string(i);
            std::vector<json::Object::Entry> entries;
            for (size_t k = draw(4); k > 0; --k)
                entries.emplace_back(keys[draw(keys.size())], json::Value());
            policies[i].applies_to.predicates = json::Object::from_entries(std::move(entries));
            if (draw(2) == 0) {
                ConditionPredicates when;
                when.predicates = json::Object::from_entries({{"f", json::Value()}});
                policies[i].when = std::move(when);
            }
        }
        Applicability applicability;
        Dense rows;
        for (const AuthorityPolicy& policy : policies) {
            PolicyEvaluation evaluation;
            evaluation.policy = &policy;
            applicability.applicable.push_back(applicability.evaluations.size());
            applicability.evaluations.push_back(evaluation);
            // The reference's scores: the first entry of each distinct dimension name.
            const SpecificityScores scores = specificity_scores(policy, dimensions);
            std::vector<uint32_t> row;
            for (size_t k = 0; k < dimensions.size(); ++k)
                if (std::find(dimensions.begin(), dimensions.begin() + static_cast<long>(k),
                              dimensions[k]) == dimensions.begin() + static_cast<long>(k))
                    row.push_back(dimension_score(scores, dimensions[k]));
            rows.push_back(std::move(row));
        }
        std::string expected;
        for (size_t i : pairwise_undominated(rows))
            expected += (expected.empty() ? "" : ",") + policies[i].policy_id;
        auto resolution = resolve_conflicts(applicability, dimensions, false);
        ASSERT_TRUE(resolution.ok());
        EXPECT_EQ(resolution->steps.back().policy_id, expected) << "round " << round;
    }
}

// Equal vectors, and vectors on two levels: four times the policies take about four times as
// long (sixteen times if every pair were compared). The best of three runs of each size.
TEST(Specificity, CostGrowsAsNLogNForEqualAndOrderedScores) {
    auto seconds = [](size_t n) {
        std::vector<SparseScores> rows(n);
        for (size_t i = 0; i < n; i += 2)
            rows[i] = {{0, 1}};
        double best = 1e9;
        for (int run = 0; run < 3; ++run) {
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(undominated_rows(rows).size(), (n + 1) / 2);
            best = std::min(
                best,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        return best;
    };
    const double small = seconds(20'000), large = seconds(80'000);
    EXPECT_LT(large, 9 * small + 0.005) << small << " s, then " << large << " s";
}

} // namespace
} // namespace vok::authority
