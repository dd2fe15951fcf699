// Undominated rows against comparing every pair, on seeded generated sets of every shape (chains,
// antichains, rows on columns of their own, ties, duplicates, mixtures; few columns and many;
// explicit zeros, empty rows, scattered column numbers, scores near the 32-bit limit), and the
// number of pairs compared, which stays within a fixed number per row on the shapes that the
// index is for.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "authority/all_pairs_dominance.h"
#include "authority/undominated_rows.h"

namespace vok::authority {
namespace {

using testing::all_pairs_undominated;
using testing::DenseRows;

enum class Shape { Chain, Antichain, OwnColumns, Ties, Duplicates, Mixed, Large };

const Shape kShapes[] = {Shape::Chain,      Shape::Antichain, Shape::OwnColumns, Shape::Ties,
                         Shape::Duplicates, Shape::Mixed,     Shape::Large};

class Generator {
public:
    explicit Generator(uint32_t seed) : random_(seed) {}

    uint32_t below(uint32_t bound) {
        return std::uniform_int_distribution<uint32_t>(0, bound - 1)(random_);
    }

    DenseRows rows(Shape shape, size_t count) {
        size_t width = below(13);
        if (shape == Shape::Antichain) width = 2 + below(6);
        if (shape == Shape::OwnColumns) width = count + below(3);
        DenseRows pool(1 + below(4));
        for (auto& row : pool)
            row = random_row(width, 3);
        DenseRows out;
        std::vector<uint32_t> current(width, 0);
        for (size_t i = 0; i < count; ++i) {
            switch (shape) {
            case Shape::Chain: // one step up on one column, or a repeat
                if (width > 0 && below(3) != 0) current[below(static_cast<uint32_t>(width))] += 1;
                out.push_back(current);
                break;
            case Shape::Antichain: // the same total split differently
                out.push_back(split(width, 6));
                break;
            case Shape::OwnColumns: // a column of its own, sometimes a shared one too
                current.assign(width, 0);
                current[i] = 1 + below(2);
                if (width > count) current[count] = below(3);
                out.push_back(current);
                break;
            case Shape::Ties:
                out.push_back(pool[below(static_cast<uint32_t>(pool.size()))]);
                break;
            case Shape::Duplicates: // a few rows of any shape, each many times
                if (i == 0 || below(4) == 0)
                    current = below(2) ? split(width, 4) : random_row(width, 4);
                out.push_back(current);
                break;
            case Shape::Mixed:
                out.push_back(below(8) == 0 ? std::vector<uint32_t>(width, 0)
                                            : random_row(width, 3));
                break;
            case Shape::Large: // few distinct values, far apart and up to the 32-bit limit
                out.push_back(random_row(width, 3));
                for (uint32_t& score : out.back())
                    if (score != 0) score = UINT32_MAX - 3 + score;
                break;
            }
        }
        std::shuffle(out.begin(), out.end(), random_);
        return out;
    }

    // The sparse form, with the columns renumbered in order but spread out (up to the 32-bit
    // limit) and some zeros written out.
    std::vector<SparseScores> sparse(const DenseRows& rows) {
        const size_t width = rows.empty() ? 0 : rows.front().size();
        std::vector<uint32_t> column(width);
        uint32_t next = below(3) == 0 ? UINT32_MAX - static_cast<uint32_t>(2 * width) : 0;
        for (uint32_t& c : column) {
            c = next;
            next += 1 + below(2);
        }
        const bool zeros = below(4) == 0;
        std::vector<SparseScores> out;
        for (const auto& row : rows) {
            SparseScores s;
            for (size_t k = 0; k < row.size(); ++k)
                if (row[k] != 0 || (zeros && below(2) == 0)) s.emplace_back(column[k], row[k]);
            out.push_back(std::move(s));
        }
        return out;
    }

private:
    std::vector<uint32_t> random_row(size_t width, uint32_t below_score) {
        std::vector<uint32_t> row(width);
        for (uint32_t& score : row)
            score = below(below_score);
        return row;
    }
    std::vector<uint32_t> split(size_t width, uint32_t total) {
        std::vector<uint32_t> row(width, 0);
        for (uint32_t unit = 0; unit < total && width > 0; ++unit)
            row[below(static_cast<uint32_t>(width))] += 1;
        return row;
    }

    std::mt19937 random_;
};

void expect_as_all_pairs(Shape shape, size_t most_rows, int sets, uint32_t seed) {
    Generator generate(seed);
    for (int set = 0; set < sets; ++set) {
        const DenseRows rows =
            generate.rows(shape, generate.below(static_cast<uint32_t>(most_rows)));
        size_t comparisons = 0;
        EXPECT_EQ(undominated_rows(generate.sparse(rows), &comparisons),
                  all_pairs_undominated(rows))
            << "shape " << static_cast<int>(shape) << ", set " << set;
        EXPECT_LE(comparisons, rows.size() * (rows.size() - (rows.empty() ? 0 : 1)) / 2);
    }
}

TEST(UndominatedRows, AsComparingEveryPair) {
    for (Shape shape : kShapes) {
        expect_as_all_pairs(shape, 40, 3'000, 11 + static_cast<uint32_t>(shape));
        expect_as_all_pairs(shape, 300, 8, 29 + static_cast<uint32_t>(shape));
    }
}

TEST(UndominatedRows, EdgeSets) {
    EXPECT_EQ(undominated_rows({}), std::vector<size_t>{});
    // Only empty rows, or zeros written out: all equal, all kept.
    EXPECT_EQ(undominated_rows({{}, {{3, 0}}, {}}), (std::vector<size_t>{0, 1, 2}));
    // Any score anywhere is above an empty row; copies of a row are kept together.
    EXPECT_EQ(undominated_rows({{}, {{9, 1}}, {}, {{9, 1}}}), (std::vector<size_t>{1, 3}));
    // A row is covered only by one reaching every one of its columns.
    EXPECT_EQ(undominated_rows({{{0, 1}, {5, 1}}, {{0, 2}}, {{5, 2}}, {{0, 2}, {5, 1}}}),
              (std::vector<size_t>{2, 3}));
}

// Five shapes of n = 8,192 rows over four columns or more (columns of their own, chains, equal
// and empty rows): comparing every pair would take some 33 million comparisons; the index makes
// at most one per row.
TEST(UndominatedRows, ComparisonsStayWithinOnePerRow) {
    const uint32_t n = 8'192;
    struct Case {
        const char* name;
        std::vector<SparseScores> rows;
        size_t kept;
    };
    std::vector<Case> cases(5);
    cases[0].name = "each on a column of its own";
    cases[1].name = "each above a copy of itself without the shared columns";
    cases[2].name = "a chain over six columns";
    cases[3].name = "two distinct rows and empty ones";
    cases[4].name = "each on its own column and at one of eight levels on the shared ones";
    for (uint32_t i = 0; i < n; ++i) {
        cases[0].rows.push_back({{4 + i, 1}});
        cases[1].rows.push_back({{i % 4, 1 + i % 3}, {4 + i / 2, 1}});
        if (i % 2 == 1) cases[1].rows.back() = {{4 + i / 2, 1}};
        cases[2].rows.push_back({{0, 1 + i / 3}, {1, 1}, {2, 1 + i}, {3, 1}, {4, 1}, {5, 2}});
        cases[3].rows.push_back(i % 3 == 0   ? SparseScores{}
                                : i % 3 == 1 ? SparseScores{{0, 2}, {1, 1}, {2, 1}, {3, 1}}
                                             : SparseScores{{0, 1}, {1, 2}, {2, 1}, {3, 1}});
        cases[4].rows.push_back({{0, 1 + i % 8}, {1, 8 - i % 8}, {2, 1}, {3, 1}, {4 + i, 1}});
    }
    cases[0].kept = n;
    cases[1].kept = n / 2;
    cases[2].kept = 1;
    cases[3].kept = 2 * n / 3;
    cases[4].kept = n;
    for (const Case& c : cases) {
        size_t comparisons = 0;
        EXPECT_EQ(undominated_rows(c.rows, &comparisons).size(), c.kept) << c.name;
        EXPECT_LE(comparisons, n) << c.name;
    }
    // The count is live: each copy without the shared columns needs a comparison.
    size_t comparisons = 0;
    undominated_rows(cases[1].rows, &comparisons);
    EXPECT_GE(comparisons, n / 2);
}

// Rows spread over three columns are decided by the sweep without comparing any pair, however
// many survive: here some 8,000 rows whose scores sum to the same total.
TEST(UndominatedRows, ThreeColumnsCompareNoPair) {
    std::vector<SparseScores> rows;
    for (uint32_t x = 0; x <= 126; ++x)
        for (uint32_t y = 0; x + y <= 126; ++y)
            rows.push_back({{10, x + 1}, {20, y + 1}, {30, 127 - x - y}});
    size_t comparisons = 0;
    EXPECT_EQ(undominated_rows(rows, &comparisons).size(), rows.size());
    EXPECT_EQ(comparisons, 0u);
}

} // namespace
} // namespace vok::authority
