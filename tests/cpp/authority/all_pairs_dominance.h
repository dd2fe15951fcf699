// The specificity comparison done the direct way, as an oracle for the tests: every undominated
// row compared with every other, in row order, on dense score rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vok::authority::testing {

using DenseRows = std::vector<std::vector<uint32_t>>;

// Whether `a` is at least `b` on every column and above it on one.
inline bool dominates(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    bool above = false;
    for (size_t k = 0; k < a.size(); ++k) {
        if (a[k] < b[k]) return false;
        above = above || a[k] > b[k];
    }
    return above;
}

// Positions, ascending, of the rows left undominated: for each row i not yet dominated, each other
// row j not yet dominated is marked when i dominates it, or i is marked when j dominates i (and
// the loop over j goes on for i).
inline std::vector<size_t> all_pairs_undominated(const DenseRows& rows) {
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

} // namespace vok::authority::testing
