// The specificity step of conflict resolution at growing numbers of tied policies.
//
// usage: specificity_bench [ROUNDS [SHAPE]]   (default 3 rounds, every shape)
// Prints one line per shape and size, "<shape> rows=N best: S s  kept=K", then for each size
// that is four times another, "<shape> growth A -> B rows: Rx", the ratio of their times. The
// policy shapes run the whole step (scores, dominance, the joined ids); the score shapes time
// `undominated_rows` alone, most of them on rows that only policies with hundreds or thousands of
// keys each would give.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "authority/conflict_resolution.h"
#include "bench_support.h"

namespace {

using namespace vok::authority;

struct Policies {
    std::vector<AuthorityPolicy> policies;
    std::vector<std::string> dimensions;
};

AuthorityPolicy policy_with_keys(size_t i, const std::vector<std::string>& keys) {
    AuthorityPolicy policy;
    policy.policy_id = "p" + std::to_string(i);
    std::vector<vok::json::Object::Entry> entries;
    for (const std::string& key : keys)
        entries.emplace_back(key, vok::json::Value());
    policy.applies_to.predicates = vok::json::Object::from_entries(std::move(entries));
    return policy;
}

// Every policy scores on a dimension of its own: no policy dominates another.
Policies incomparable_policies(size_t n) {
    Policies out;
    for (size_t i = 0; i < n; ++i) {
        out.dimensions.push_back("d" + std::to_string(i));
        out.policies.push_back(policy_with_keys(i, {out.dimensions.back()}));
    }
    return out;
}

// One to four keys under "actor": four levels of equal policies, the top one kept.
Policies comparable_policies(size_t n) {
    Policies out;
    out.dimensions = {"actor", "resource", "condition"};
    for (size_t i = 0; i < n; ++i) {
        std::vector<std::string> keys;
        for (size_t k = 0; k <= i % 4; ++k)
            keys.push_back("actor.k" + std::to_string(k));
        out.policies.push_back(policy_with_keys(i, keys));
    }
    return out;
}

// The best of at least `rounds` runs, and of more while they add up to under half a second (at
// most 200): a run of a millisecond is easily slowed by the rest of the machine.
double best_of(int rounds, const std::function<void()>& once) {
    double best = 1e9, total = 0;
    for (int run = 0; run < rounds || (total < 0.5 && run < 200); ++run) {
        const auto start = std::chrono::steady_clock::now();
        once();
        const double seconds = bench::seconds_since(start);
        best = std::min(best, seconds);
        total += seconds;
    }
    return best;
}

// The whole step over the policies, timed as best_of does; `kept` gets how many are left.
double time_policies(const Policies& input, int rounds, size_t& kept) {
    Applicability applicability;
    for (const AuthorityPolicy& policy : input.policies) {
        PolicyEvaluation evaluation;
        evaluation.policy = &policy;
        applicability.applicable.push_back(applicability.evaluations.size());
        applicability.evaluations.push_back(std::move(evaluation));
    }
    return best_of(rounds, [&] {
        auto resolution = resolve_conflicts(applicability, input.dimensions, false);
        const std::string& ids = resolution->steps.back().policy_id;
        kept = 1 + static_cast<size_t>(std::count(ids.begin(), ids.end(), ','));
    });
}

// Every row scoring on a column of its own, the rows of the incomparable policies.
std::vector<SparseScores> own_columns(size_t n) {
    std::vector<SparseScores> rows;
    for (uint32_t i = 0; i < n; ++i)
        rows.push_back({{i, 1}});
    return rows;
}

// Two columns, the second falling as the first rises: all rows kept.
std::vector<SparseScores> two_column_antichain(size_t n) {
    std::vector<SparseScores> rows;
    for (uint32_t i = 0; i < n; ++i)
        rows.push_back({{0, i + 1}, {1, static_cast<uint32_t>(n) - i}});
    return rows;
}

// Three columns, every row scoring on each, values drawn from 1 to 1,000.
std::vector<SparseScores> three_column_random(size_t n) {
    std::mt19937 random(7);
    std::uniform_int_distribution<uint32_t> value(1, 1000);
    std::vector<SparseScores> rows;
    for (size_t i = 0; i < n; ++i)
        rows.push_back({{0, value(random)}, {1, value(random)}, {2, value(random)}});
    return rows;
}

// Three columns whose scores sum to the same total: all rows kept, and each column alone lets
// about half of the kept rows through.
std::vector<SparseScores> three_column_antichain(size_t n) {
    std::vector<SparseScores> rows;
    uint32_t total = 2;
    while ((total + 1) * (total + 2) / 2 < n)
        ++total;
    for (uint32_t x = 0; x <= total && rows.size() < n; ++x)
        for (uint32_t y = 0; x + y <= total && rows.size() < n; ++y) {
            SparseScores row;
            const uint32_t z = total - x - y;
            if (x != 0) row.emplace_back(0, x);
            if (y != 0) row.emplace_back(1, y);
            if (z != 0) row.emplace_back(2, z);
            rows.push_back(std::move(row));
        }
    return rows;
}

// Five columns whose scores sum to the same total, in a random order: all rows kept, and no
// column narrows the rows that could cover one much. What remains pairwise.
std::vector<SparseScores> five_column_antichain(size_t n) {
    uint32_t total = 4;
    auto count = [](uint64_t t) { return (t + 1) * (t + 2) * (t + 3) * (t + 4) / 24; };
    while (count(total) < n)
        ++total;
    std::vector<SparseScores> rows;
    uint32_t part[5];
    for (part[0] = 0; part[0] <= total; ++part[0])
        for (part[1] = 0; part[0] + part[1] <= total; ++part[1])
            for (part[2] = 0; part[0] + part[1] + part[2] <= total; ++part[2])
                for (part[3] = 0; part[0] + part[1] + part[2] + part[3] <= total; ++part[3]) {
                    part[4] = total - part[0] - part[1] - part[2] - part[3];
                    SparseScores row;
                    for (uint32_t c = 0; c < 5; ++c)
                        if (part[c] != 0) row.emplace_back(c, part[c]);
                    rows.push_back(std::move(row));
                }
    std::shuffle(rows.begin(), rows.end(), std::mt19937(5));
    rows.resize(n);
    return rows;
}

double time_rows(const std::vector<SparseScores>& rows, int rounds, size_t& kept) {
    return best_of(rounds, [&] { kept = undominated_rows(rows).size(); });
}

const char* only_shape = nullptr;

void run(const char* shape, const std::vector<size_t>& sizes, int rounds,
         const std::function<double(size_t, int, size_t&)>& measure) {
    if (only_shape != nullptr && std::string_view(shape) != only_shape) return;
    std::vector<double> best(sizes.size());
    for (size_t s = 0; s < sizes.size(); ++s) {
        size_t kept = 0;
        best[s] = measure(sizes[s], rounds, kept);
        std::printf("%s rows=%zu best: %.4f s  kept=%zu\n", shape, sizes[s], best[s], kept);
        std::fflush(stdout);
    }
    for (size_t small = 0; small < sizes.size(); ++small)
        for (size_t large = small + 1; large < sizes.size(); ++large)
            if (sizes[large] == 4 * sizes[small])
                std::printf("%s growth %zu -> %zu rows: %.2fx\n", shape, sizes[small], sizes[large],
                            best[large] / best[small]);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    if (argc > 2) only_shape = argv[2];
    const std::vector<size_t> sizes = {8'000, 16'000, 32'000, 128'000};
    const std::vector<size_t> small = {8'000, 16'000, 32'000};
    auto policies = [](Policies (*make)(size_t)) {
        return [make](size_t n, int rounds, size_t& kept) {
            return time_policies(make(n), rounds, kept);
        };
    };
    auto scores = [](std::vector<SparseScores> (*make)(size_t)) {
        return
            [make](size_t n, int rounds, size_t& kept) { return time_rows(make(n), rounds, kept); };
    };
    run("incomparable rows", sizes, rounds, scores(own_columns));
    run("incomparable policies", sizes, rounds, policies(incomparable_policies));
    run("comparable policies", sizes, rounds, policies(comparable_policies));
    run("two-column antichain", sizes, rounds, scores(two_column_antichain));
    run("three-column random", sizes, rounds, scores(three_column_random));
    run("three-column antichain", small, rounds, scores(three_column_antichain));
    run("five-column antichain", small, rounds, scores(five_column_antichain));
    return 0;
}
