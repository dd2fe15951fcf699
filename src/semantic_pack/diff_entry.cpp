// One entry of a pack diff and the order in which a diff lists its entries; the definitions behind
// diff_entry.h.
#include "semantic_pack/diff_entry.h"

#include <iterator>

#include "common/invariant.h"

namespace vok::semantic_pack {

int sort_rank(DiffClassification classification) {
    // Indexed by value: additive, definitional_change, deprecating, breaking, governance_critical,
    // signature_only.
    static constexpr int kRanks[] = {4, 2, 3, 0, 1, 5};
    const auto index = static_cast<size_t>(classification);
    VOK_INVARIANT(index < std::size(kRanks), "diff classification out of range");
    return kRanks[index];
}

bool diff_entry_less(const PackDiffEntry& a, const PackDiffEntry& b) {
    const int rank_a = sort_rank(a.classification);
    const int rank_b = sort_rank(b.classification);
    if (rank_a != rank_b) return rank_a < rank_b;
    return a.subject_id < b.subject_id;
}

} // namespace vok::semantic_pack
