// An alias of a pack: another name that leads to a concept.
//
// `normalized_alias` is the lookup key of `alias`, taken as read. `confidence` is an optional
// text; every other key is required, `source_ref` being one reference, not a list.
#pragma once

#include <optional>
#include <string>

#include "semantic_pack/enumerations.h"
#include "semantic_pack/record_layout.h"
#include "semantic_pack/source_ref.h"
#include "json/deserializer.h"

namespace vok::semantic_pack {

struct AliasDef {
    std::string alias;
    std::string normalized_alias;
    std::string target_concept_id;
    AliasStatus status = AliasStatus::Approved;
    std::optional<std::string> confidence;
    std::string decision_ref;
    SourceRef source_ref;

    static Result<AliasDef, json::Error> read(json::Deserializer& de);

    friend bool operator==(const AliasDef&, const AliasDef&) = default;
};

json::Status read_into(json::Deserializer& de, AliasDef& record);
void write_json(RecordWriter& w, const AliasDef& record);

} // namespace vok::semantic_pack
