// A governed concept of a pack and its definition.
//
// `ConceptDef` is what a pack says a concept is: id, canonical name, kind, life-cycle status,
// definition, owner, where it came from, and four lists of texts. The source references and the
// four lists default to empty when their keys are missing (null is refused); every other key is
// required. `ConceptDefinition` holds the definition text, its hash and the review decision
// behind it, all required.
#pragma once

#include <string>
#include <vector>

#include "semantic_pack/enumerations.h"
#include "semantic_pack/record_layout.h"
#include "semantic_pack/source_ref.h"
#include "json/deserializer.h"

namespace vok::semantic_pack {

struct ConceptDefinition {
    std::string text;
    std::string definition_hash;
    std::string decision_ref;

    static Result<ConceptDefinition, json::Error> read(json::Deserializer& de);

    friend bool operator==(const ConceptDefinition&, const ConceptDefinition&) = default;
};

struct ConceptDef {
    std::string id;
    std::string canonical_name;
    ConceptKind kind = ConceptKind::Entity;
    ConceptStatus status = ConceptStatus::Active;
    ConceptDefinition definition;
    std::string owner;
    std::vector<SourceRef> source_refs;
    std::vector<std::string> examples;
    std::vector<std::string> counterexamples;
    std::vector<std::string> allowed_predicates;
    std::vector<std::string> valid_contexts;

    static Result<ConceptDef, json::Error> read(json::Deserializer& de);

    friend bool operator==(const ConceptDef&, const ConceptDef&) = default;
};

json::Status read_into(json::Deserializer& de, ConceptDefinition& definition);
void write_json(RecordWriter& w, const ConceptDefinition& definition);
json::Status read_into(json::Deserializer& de, ConceptDef& concept_def);
void write_json(RecordWriter& w, const ConceptDef& concept_def);

} // namespace vok::semantic_pack
