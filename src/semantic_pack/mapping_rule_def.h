// A mapping rule of a pack: a source term mapped onto a concept.
//
// `confidence` is an optional text and only a JSON string (a number is refused); every other key
// is required.
#pragma once

#include <optional>
#include <string>

#include "semantic_pack/record_layout.h"
#include "semantic_pack/source_ref.h"
#include "json/deserializer.h"

namespace vok::semantic_pack {

struct MappingRuleDef {
    std::string id;
    std::string source_term;
    std::string target_concept_id;
    std::optional<std::string> confidence;
    std::string decision_ref;

    static Result<MappingRuleDef, json::Error> read(json::Deserializer& de);

    friend bool operator==(const MappingRuleDef&, const MappingRuleDef&) = default;
};

json::Status read_into(json::Deserializer& de, MappingRuleDef& record);
void write_json(RecordWriter& w, const MappingRuleDef& record);

} // namespace vok::semantic_pack
