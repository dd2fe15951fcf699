// Semantic diagnostics: the one finding record of the semantic-pack subsystem.
//
// Every check of a pack, of a graph against a pack, of concept resolution and of the pack build
// reports a `SemanticDiagnostic`: a code from a fixed vocabulary of 30, a severity, what the
// finding means for the truth of the checked meaning, a message, where it points, which pack it
// concerns, ranked suggestions and a remedy. Its written form has all eight keys, always; when
// read back the suggestions may be missing (an empty list) but the other seven keys are required.
//
// `diagnostic_less` and `suggestion_less` are the orders in which validation results list their
// diagnostics and each diagnostic's suggestions (both used with a stable sort).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "semantic_pack/enumerations.h"
#include "semantic_pack/pack_ref.h"
#include "semantic_pack/record_layout.h"
#include "semantic_pack/source_ref.h"
#include "json/deserializer.h"

namespace vok::semantic_pack {

struct Suggestion {
    std::string label;
    uint32_t rank = 0;

    static Result<Suggestion, json::Error> read(json::Deserializer& de);

    friend bool operator==(const Suggestion&, const Suggestion&) = default;
};

struct SemanticDiagnostic {
    DiagnosticCode code = DiagnosticCode::UnknownConcept;
    DiagnosticSeverity severity = DiagnosticSeverity::Error;
    SemanticTruth semantic_truth = SemanticTruth::Valid;
    std::string message;
    SourceRef source_ref;
    PackRef pack_ref;
    std::vector<Suggestion> suggestions;
    std::string recoverability_hint;

    static Result<SemanticDiagnostic, json::Error> read(json::Deserializer& de);

    friend bool operator==(const SemanticDiagnostic&, const SemanticDiagnostic&) = default;
};

json::Status read_into(json::Deserializer& de, Suggestion& suggestion);
void write_json(RecordWriter& w, const Suggestion& suggestion);
json::Status read_into(json::Deserializer& de, SemanticDiagnostic& diagnostic);
void write_json(RecordWriter& w, const SemanticDiagnostic& diagnostic);

// The compact JSON text of one diagnostic. Should writing ever fail, the text is instead an object
// with the single key "message", so that a list of diagnostics keeps one entry for each.
std::string diagnostic_to_json_string(const SemanticDiagnostic& diagnostic);

// By `source_ref.uri` (bytes), `source_ref.start_byte`, the code's JSON name (not its number),
// then `message`.
bool diagnostic_less(const SemanticDiagnostic& a, const SemanticDiagnostic& b);
// Higher `rank` first, then `label` ascending by bytes.
bool suggestion_less(const Suggestion& a, const Suggestion& b);

} // namespace vok::semantic_pack
