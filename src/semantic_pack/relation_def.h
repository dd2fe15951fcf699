// A relation of a pack: a predicate from one concept to another.
//
// Every text is required but `cardinality`, an optional text (missing or null reads as absent and
// the key is then left out when written); `source_refs` defaults to empty.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "semantic_pack/record_layout.h"
#include "semantic_pack/source_ref.h"
#include "json/deserializer.h"

namespace vok::semantic_pack {

struct RelationDef {
    std::string id;
    std::string predicate;
    std::string subject_id;
    std::string object_id;
    std::optional<std::string> cardinality;
    std::vector<SourceRef> source_refs;

    static Result<RelationDef, json::Error> read(json::Deserializer& de);

    friend bool operator==(const RelationDef&, const RelationDef&) = default;
};

json::Status read_into(json::Deserializer& de, RelationDef& record);
void write_json(RecordWriter& w, const RelationDef& record);

} // namespace vok::semantic_pack
