// A unit of measure of a pack, in one of its dimensions. `source_refs` defaults to empty; the rest
// is required.
#pragma once

#include <string>
#include <vector>

#include "semantic_pack/record_layout.h"
#include "semantic_pack/source_ref.h"
#include "json/deserializer.h"

namespace vok::semantic_pack {

struct UnitDef {
    std::string id;
    std::string symbol;
    std::string dimension_id;
    std::vector<SourceRef> source_refs;

    static Result<UnitDef, json::Error> read(json::Deserializer& de);

    friend bool operator==(const UnitDef&, const UnitDef&) = default;
};

json::Status read_into(json::Deserializer& de, UnitDef& record);
void write_json(RecordWriter& w, const UnitDef& record);

} // namespace vok::semantic_pack
