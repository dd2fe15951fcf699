// A dimension of measure of a pack. `source_refs` defaults to empty; the rest is required.
#pragma once

#include <string>
#include <vector>

#include "semantic_pack/record_layout.h"
#include "semantic_pack/source_ref.h"
#include "json/deserializer.h"

namespace vok::semantic_pack {

struct DimensionDef {
    std::string id;
    std::string name;
    std::vector<SourceRef> source_refs;

    static Result<DimensionDef, json::Error> read(json::Deserializer& de);

    friend bool operator==(const DimensionDef&, const DimensionDef&) = default;
};

json::Status read_into(json::Deserializer& de, DimensionDef& record);
void write_json(RecordWriter& w, const DimensionDef& record);

} // namespace vok::semantic_pack
