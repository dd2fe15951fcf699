// Undominated rows: of a list of score rows, the ones that no other row dominates, where a row
// dominates another when it is at least as high on every column and higher on one. Conflict
// resolution keeps the policies whose specificity rows are undominated.
//
// Domination is a strict partial order, so the undominated rows are the same whatever order the
// rows are compared in, and a row that is dominated at all is dominated by an undominated one.
// Comparing every pair costs n² when many rows survive (every policy scoring on a dimension of its
// own). Instead the rows go through once, greatest first, and each distinct row is compared only
// with the undominated rows found so far that could cover it: those that reach its score on the
// one of its columns that the fewest of them reach, or, when the rows score on three columns or
// fewer, none at all (a sweep answers from a prefix minimum).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace vok::authority {

// A row of scores with the zeros left out: (column, score) pairs, ascending by column, each
// column once.
using SparseScores = std::vector<std::pair<uint32_t, uint32_t>>;

// Positions, ascending, of the rows that no other row dominates; a score of 0 counts as no
// score, so equal rows never dominate each other. The same set as comparing every pair, in
// O(n log n) when the rows are equal, ordered, each scoring on a column of its own, or spread
// over three columns or fewer. Rows that are mutually incomparable on four or more shared columns
// can still be compared pairwise: no such index helps with every shape of many columns. When
// `comparisons` is given, the number of row pairs compared is added to it, so that tests can
// bound the cost without a clock.
std::vector<size_t> undominated_rows(const std::vector<SparseScores>& rows,
                                     size_t* comparisons = nullptr);

} // namespace vok::authority
