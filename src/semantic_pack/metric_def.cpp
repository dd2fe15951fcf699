#include "semantic_pack/metric_def.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<MetricDef> kMembers[] = {
    member<&MetricDef::id>("id"),
    member<&MetricDef::name>("name"),
    member<&MetricDef::dimension_id>("dimension_id"),
    member<&MetricDef::unit_id>("unit_id"),
    defaulted_member<&MetricDef::source_refs>("source_refs"),
};
constexpr auto kLayout = record_layout("struct MetricDef", kMembers);

} // namespace

Result<MetricDef, json::Error> MetricDef::deserialize(json::Deserializer& de) {
    return read_record(de, kLayout);
}

json::Status read_json(json::Deserializer& de, MetricDef& record) {
    return read_record_into(de, kLayout, record);
}

void write_json(RecordWriter& w, const MetricDef& record) {
    write_record(w, record, kLayout);
}

} // namespace vok::semantic_pack
