// One entry of a pack diff and the order in which a diff lists its entries.
//
// Entries are sorted by the rank of their classification (breaking, governance_critical,
// definitional_change, deprecating, additive, signature_only: not the order of the values), then
// by `subject_id` ascending by bytes, with a stable sort.
#pragma once

#include <string>

#include "semantic_pack/enumerations.h"

namespace vok::semantic_pack {

struct PackDiffEntry {
    std::string subject_type;
    std::string subject_id;
    std::string detail;
    DiffClassification classification = DiffClassification::Additive;

    friend bool operator==(const PackDiffEntry&, const PackDiffEntry&) = default;
};

// The position of a classification in the order of diff entries (0 sorts first).
int sort_rank(DiffClassification classification);

bool diff_entry_less(const PackDiffEntry& a, const PackDiffEntry& b);

} // namespace vok::semantic_pack
