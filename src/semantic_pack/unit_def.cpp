#include "semantic_pack/unit_def.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<UnitDef> kMembers[] = {
    member<&UnitDef::id>("id"),
    member<&UnitDef::symbol>("symbol"),
    member<&UnitDef::dimension_id>("dimension_id"),
    defaulted_member<&UnitDef::source_refs>("source_refs"),
};
constexpr auto kLayout = record_layout("struct UnitDef", kMembers);

} // namespace

Result<UnitDef, json::Error> UnitDef::deserialize(json::Deserializer& de) {
    return read_record(de, kLayout);
}

json::Status read_json(json::Deserializer& de, UnitDef& record) {
    return read_record_into(de, kLayout, record);
}

void write_json(RecordWriter& w, const UnitDef& record) {
    write_record(w, record, kLayout);
}

} // namespace vok::semantic_pack
