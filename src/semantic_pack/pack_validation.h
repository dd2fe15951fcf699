// Pack validation: the structural checks of one pack, and the validation of a source against it.
//
// `validate_pack_structure` checks that a pack is sound before anything relies on its meanings:
// the schema version, unique concept ids and canonical names (by lookup key), a definition and an
// owner for every active or proposed concept, and alias targets, relation ends and metric
// dimensions and units that land on records of the same pack. Findings are diagnostics in the
// order the checks raise them, each pointing at the pack as a whole; they are never errors.
//
// `validate_graph_with_pack` applies the options' signature requirement to the pack's declared
// signature state (it has no key, so it verifies nothing), runs the structural checks, sorts the
// findings, derives the status from them and the mode, and fingerprints the source and pack id
// as `input_hash`. The source text takes part only in that fingerprint.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "semantic_pack/diagnostic.h"
#include "semantic_pack/semantic_pack.h"
#include "semantic_pack/validation_options.h"
#include "semantic_pack/validation_result.h"

namespace vok::semantic_pack {

// The schema version a sound pack declares.
inline constexpr std::string_view kPackSchemaVersion = "0.3";

std::vector<SemanticDiagnostic> validate_pack_structure(const SemanticPack& pack);
// The same for a pack the caller no longer needs: its content hash is computed in place rather
// than over a copy (see content_hash_of).
std::vector<SemanticDiagnostic> validate_pack_structure(SemanticPack&& pack);

SemanticValidationResult validate_graph_with_pack(const SemanticPack& pack, std::string_view source,
                                                  const ValidationOptions& options);
SemanticValidationResult validate_graph_with_pack(SemanticPack&& pack, std::string_view source,
                                                  const ValidationOptions& options);

// The compact JSON array of diagnostics, exactly as a result's "diagnostics" value is written.
std::string diagnostics_json(const std::vector<SemanticDiagnostic>& diagnostics);

} // namespace vok::semantic_pack
