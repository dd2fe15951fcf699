#include "semantic_pack/alias_def.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<AliasDef> kMembers[] = {
    member<&AliasDef::alias>("alias"),
    member<&AliasDef::normalized_alias>("normalized_alias"),
    member<&AliasDef::target_concept_id>("target_concept_id"),
    member<&AliasDef::status>("status"),
    member<&AliasDef::confidence>("confidence"),
    member<&AliasDef::decision_ref>("decision_ref"),
    member<&AliasDef::source_ref>("source_ref"),
};
constexpr auto kLayout = record_layout("struct AliasDef", kMembers);

} // namespace

Result<AliasDef, json::Error> AliasDef::deserialize(json::Deserializer& de) {
    return read_record(de, kLayout);
}

json::Status read_json(json::Deserializer& de, AliasDef& record) {
    return read_record_into(de, kLayout, record);
}

void write_json(RecordWriter& w, const AliasDef& record) {
    write_record(w, record, kLayout);
}

} // namespace vok::semantic_pack
