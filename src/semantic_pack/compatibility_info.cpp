#include "semantic_pack/compatibility_info.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<CompatibilityInfo> kMembers[] = {
    defaulted_member<&CompatibilityInfo::brisvandole_min_version>("brisvandole_min_version"),
    defaulted_member<&CompatibilityInfo::brisvandole_max_version>("brisvandole_max_version"),
    defaulted_member<&CompatibilityInfo::lsp_min_version>("lsp_min_version"),
    defaulted_member<&CompatibilityInfo::deprecated_after>("deprecated_after"),
    defaulted_member<&CompatibilityInfo::retired_after>("retired_after"),
    defaulted_member<&CompatibilityInfo::replaces_pack_ids>("replaces_pack_ids"),
};
constexpr auto kLayout = record_layout("struct CompatibilityInfo", kMembers);

} // namespace

Result<CompatibilityInfo, json::Error> CompatibilityInfo::deserialize(json::Deserializer& de) {
    return read_record(de, kLayout);
}

json::Status read_json(json::Deserializer& de, CompatibilityInfo& record) {
    return read_record_into(de, kLayout, record);
}

void write_json(RecordWriter& w, const CompatibilityInfo& record) {
    write_record(w, record, kLayout);
}

} // namespace vok::semantic_pack
