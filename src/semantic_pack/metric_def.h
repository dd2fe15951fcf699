// A metric of a pack, optionally measured in one of the pack's dimensions and units.
//
// `dimension_id` and `unit_id` are optional texts (missing or null reads as absent and the key is
// then left out when written); `source_refs` defaults to empty, so the array form may stop after
// four values.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "semantic_pack/record_layout.h"
#include "semantic_pack/source_ref.h"
#include "json/deserializer.h"

namespace vok::semantic_pack {

struct MetricDef {
    std::string id;
    std::string name;
    std::optional<std::string> dimension_id;
    std::optional<std::string> unit_id;
    std::vector<SourceRef> source_refs;

    static Result<MetricDef, json::Error> read(json::Deserializer& de);

    friend bool operator==(const MetricDef&, const MetricDef&) = default;
};

json::Status read_into(json::Deserializer& de, MetricDef& record);
void write_json(RecordWriter& w, const MetricDef& record);

} // namespace vok::semantic_pack
