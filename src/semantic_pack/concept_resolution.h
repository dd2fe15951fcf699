// Concept resolution: which governed concept of a pack, if any, a piece of free text names.
//
// The text's lookup key is compared with the concepts' ids (as stored), with the lookup keys of
// their canonical names, with the stored `normalized_alias` of the aliases and with the lookup
// keys of the mapping rules' source terms, in that order; each concept found is a candidate once.
// The outcome is then the first that applies of: unknown, rejected, blocked alias, ambiguous
// alias, ambiguous concept, proposed, deprecated, resolved. Nothing is cached between calls: every
// name of the pack is brought to its key afresh, so the cost is linear in the size of the pack.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "semantic_pack/diagnostic.h"
#include "semantic_pack/enumerations.h"
#include "semantic_pack/semantic_pack.h"

namespace vok::semantic_pack {

struct ConceptResolution {
    // Absent when the text resolved cleanly.
    std::optional<DiagnosticCode> diagnostic_code;
    // Empty when the text resolved cleanly; quotes the text as the caller gave it.
    std::string message;
    // Absent when no single concept is named, or when the concept is rejected.
    std::optional<std::string> resolved_concept_id;
    SemanticTruth semantic_truth = SemanticTruth::Unknown;
    // One per concept id, rank 5, for ambiguous text only.
    std::vector<Suggestion> suggestions;

    // The compact JSON object with the keys diagnostic_code, message, resolved_concept_id,
    // semantic_truth and suggestions; the truth is written as its variant name ("Valid").
    std::string serialize() const;

    friend bool operator==(const ConceptResolution&, const ConceptResolution&) = default;
};

ConceptResolution resolve_concept(std::string_view raw_text, const SemanticPack& pack);

} // namespace vok::semantic_pack
