#include "semantic_pack/mapping_rule_def.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<MappingRuleDef> kMembers[] = {
    member<&MappingRuleDef::id>("id"),
    member<&MappingRuleDef::source_term>("source_term"),
    member<&MappingRuleDef::target_concept_id>("target_concept_id"),
    member<&MappingRuleDef::confidence>("confidence"),
    member<&MappingRuleDef::decision_ref>("decision_ref"),
};
constexpr auto kLayout = record_layout("struct MappingRuleDef", kMembers);

} // namespace

Result<MappingRuleDef, json::Error> MappingRuleDef::deserialize(json::Deserializer& de) {
    return read_record(de, kLayout);
}

json::Status read_json(json::Deserializer& de, MappingRuleDef& record) {
    return read_record_into(de, kLayout, record);
}

void write_json(RecordWriter& w, const MappingRuleDef& record) {
    write_record(w, record, kLayout);
}

} // namespace vok::semantic_pack
