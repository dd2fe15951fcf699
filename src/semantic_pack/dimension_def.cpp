#include "semantic_pack/dimension_def.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<DimensionDef> kMembers[] = {
    member<&DimensionDef::id>("id"),
    member<&DimensionDef::name>("name"),
    defaulted_member<&DimensionDef::source_refs>("source_refs"),
};
constexpr auto kLayout = record_layout("struct DimensionDef", kMembers);

} // namespace

Result<DimensionDef, json::Error> DimensionDef::deserialize(json::Deserializer& de) {
    return read_record(de, kLayout);
}

json::Status read_json(json::Deserializer& de, DimensionDef& record) {
    return read_record_into(de, kLayout, record);
}

void write_json(RecordWriter& w, const DimensionDef& record) {
    write_record(w, record, kLayout);
}

} // namespace vok::semantic_pack
