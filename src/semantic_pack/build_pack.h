// Building a semantic pack from reviewed input.
//
// A pack is built, never edited: `build_pack` takes the reviewed content of one domain with its
// review decisions and the pack it replaces, checks the content for the defects that make a pack
// unsafe to govern with, fills in the hashes that identify the meaning of every concept and of
// the pack, stamps it, puts it into canonical order and, for a pack that is to be approved,
// refuses to produce it while any error stands. Every check runs; findings are diagnostics, and
// only the approval rule at the end decides whether a pack comes out.
//
// The hashes are canonical JSON hashes (canonical_json.h) of texts written straight from the
// records; lookup keys come from lookup_key.h and the version rule from meaning_version.h.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "semantic_pack/diagnostic.h"
#include "semantic_pack/pack_build_input.h"
#include "semantic_pack/semantic_pack.h"
#include "time/rfc3339.h"

namespace vok::semantic_pack {

struct PackBuildResult {
    // Absent when an approved build was refused; the alias-group warnings are then empty too.
    std::optional<SemanticPack> pack;
    // In the order raised: by check, and within a check by input order.
    std::vector<SemanticDiagnostic> diagnostics;
    // Groups of aliases that are ambiguous and nothing else; they never refuse a build.
    std::vector<SemanticDiagnostic> alias_group_warnings;

    bool refused() const { return !pack.has_value(); }
};

// Where a build reads the time it stamps on the pack; tests pass a fixed one.
using BuildClock = UtcInstant (*)();

// Builds a pack from `input`, which it consumes. Reads `clock` once, for `created_at`.
PackBuildResult build_pack(PackBuildInput input, BuildClock clock = now_utc);

// The hash of a concept's definition: the canonical JSON hash of {"text", "examples" (sorted),
// "counterexamples" (sorted), "status"}. The owner, names, decision reference and other lists
// take no part.
std::string definition_hash(const ConceptDef& concept_def);

// The canonical JSON hash of the concepts' meaning, one object per concept (id, definition hash,
// status, decision reference) in the order of their ids; equal ids keep their relative order.
std::string meaning_fingerprint(const std::vector<ConceptDef>& concepts);

// The hash of the review records sorted by `decision_id` (bytes, stable), each written in its
// field order, an absent amendment hash left out: not canonical JSON.
std::string review_manifest_hash(const std::vector<ReviewRecord>& records);

// The build configuration hash: the hash of the text "{}" (builds have no options).
std::string build_config_hash();

} // namespace vok::semantic_pack
