// The result of validating a graph or source against semantic packs.
//
// An overall status, the diagnostics, the packs used, the hash of the input, the mode, the hash
// comparisons made and two flags that record whether a bypass was used. `evidence_ref` and an
// `ExpectedHashCheck`'s `actual_hash` are optional texts: left out of the written form when
// absent, null or missing read as absent. Every other key is required when read.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "semantic_pack/diagnostic.h"
#include "semantic_pack/enumerations.h"
#include "semantic_pack/pack_ref.h"
#include "semantic_pack/record_layout.h"
#include "json/deserializer.h"

namespace vok::semantic_pack {

struct ExpectedHashCheck {
    std::string path;
    std::string expected_hash;
    std::optional<std::string> actual_hash;
    bool matched = false;

    static Result<ExpectedHashCheck, json::Error> read(json::Deserializer& de);

    friend bool operator==(const ExpectedHashCheck&, const ExpectedHashCheck&) = default;
};

struct SemanticValidationResult {
    SemanticValidationStatus status = SemanticValidationStatus::Passed;
    std::vector<SemanticDiagnostic> diagnostics;
    PackSetRef pack_set_ref;
    std::string input_hash;
    ValidationMode validation_mode = ValidationMode::Warn;
    std::vector<ExpectedHashCheck> expected_hashes;
    bool unsigned_fixture_bypass_used = false;
    bool first_approved_version_bypass_used = false;
    std::optional<std::string> evidence_ref;

    // A passed result for one pack in `mode`: no diagnostics, the pack set of that pack alone
    // (merged hash = its content hash), no input hash, both flags false.
    static SemanticValidationResult fresh(const PackRef& ref, ValidationMode mode);
    static Result<SemanticValidationResult, json::Error> read(json::Deserializer& de);
    // Reads a whole text holding one result.
    static Result<SemanticValidationResult, json::Error> deserialize(std::string_view text);
    // The compact JSON text of the result.
    std::string serialize() const;

    friend bool operator==(const SemanticValidationResult&,
                           const SemanticValidationResult&) = default;
};

json::Status read_into(json::Deserializer& de, ExpectedHashCheck& check);
void write_json(RecordWriter& w, const ExpectedHashCheck& check);
json::Status read_into(json::Deserializer& de, SemanticValidationResult& result);
void write_json(RecordWriter& w, const SemanticValidationResult& result);

} // namespace vok::semantic_pack
