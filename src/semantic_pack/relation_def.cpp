#include "semantic_pack/relation_def.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<RelationDef> kMembers[] = {
    member<&RelationDef::id>("id"),
    member<&RelationDef::predicate>("predicate"),
    member<&RelationDef::subject_id>("subject_id"),
    member<&RelationDef::object_id>("object_id"),
    member<&RelationDef::cardinality>("cardinality"),
    defaulted_member<&RelationDef::source_refs>("source_refs"),
};
constexpr auto kLayout = record_layout("struct RelationDef", kMembers);

} // namespace

Result<RelationDef, json::Error> RelationDef::deserialize(json::Deserializer& de) {
    return read_record(de, kLayout);
}

json::Status read_json(json::Deserializer& de, RelationDef& record) {
    return read_record_into(de, kLayout, record);
}

void write_json(RecordWriter& w, const RelationDef& record) {
    write_record(w, record, kLayout);
}

} // namespace vok::semantic_pack
