#include "semantic_pack/pack_ref.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<PackRef> kPackRefMembers[] = {
    member<&PackRef::pack_id>("pack_id"),
    member<&PackRef::pack_content_hash>("pack_content_hash"),
    member<&PackRef::path_or_uri>("path_or_uri"),
    member<&PackRef::priority>("priority"),
};
constexpr auto kPackRefLayout = record_layout("struct PackRef", kPackRefMembers);

constexpr Member<PackSetRef> kPackSetRefMembers[] = {
    member<&PackSetRef::merged_pack_hash>("merged_pack_hash"),
    member<&PackSetRef::pack_refs>("pack_refs"),
};
constexpr auto kPackSetRefLayout = record_layout("struct PackSetRef", kPackSetRefMembers);

} // namespace

Result<PackRef, json::Error> PackRef::deserialize(json::Deserializer& de) {
    return read_record(de, kPackRefLayout);
}

json::Status read_json(json::Deserializer& de, PackRef& record) {
    return read_record_into(de, kPackRefLayout, record);
}

std::string PackRef::serialize() const {
    return record_text(*this, kPackRefLayout);
}

Result<PackSetRef, json::Error> PackSetRef::deserialize(json::Deserializer& de) {
    return read_record(de, kPackSetRefLayout);
}

json::Status read_json(json::Deserializer& de, PackSetRef& record) {
    return read_record_into(de, kPackSetRefLayout, record);
}

void write_json(RecordWriter& w, const PackRef& ref) {
    write_record(w, ref, kPackRefLayout);
}

void write_json(RecordWriter& w, const PackSetRef& ref) {
    write_record(w, ref, kPackSetRefLayout);
}

} // namespace vok::semantic_pack
