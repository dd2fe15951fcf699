#include "semantic_pack/pack_trust.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<PackTrust> kMembers[] = {
    member<&PackTrust::approval_state>("approval_state"),
    member<&PackTrust::signature_state>("signature_state"),
    member<&PackTrust::signed_by>("signed_by"),
    member<&PackTrust::signature_alg>("signature_alg"),
    member<&PackTrust::signature>("signature"),
};
constexpr auto kLayout = record_layout("struct PackTrust", kMembers);

} // namespace

Result<PackTrust, json::Error> PackTrust::deserialize(json::Deserializer& de) {
    return read_record(de, kLayout);
}

json::Status read_json(json::Deserializer& de, PackTrust& record) {
    return read_record_into(de, kLayout, record);
}

void write_json(RecordWriter& w, const PackTrust& record) {
    write_record(w, record, kLayout);
}

} // namespace vok::semantic_pack
