#include "semantic_pack/generator_info.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<GeneratorInfo> kMembers[] = {
    member<&GeneratorInfo::name>("name"),
    member<&GeneratorInfo::version>("version"),
};
constexpr auto kLayout = record_layout("struct GeneratorInfo", kMembers);

} // namespace

Result<GeneratorInfo, json::Error> GeneratorInfo::deserialize(json::Deserializer& de) {
    return read_record(de, kLayout);
}

json::Status read_json(json::Deserializer& de, GeneratorInfo& record) {
    return read_record_into(de, kLayout, record);
}

void write_json(RecordWriter& w, const GeneratorInfo& record) {
    write_record(w, record, kLayout);
}

} // namespace vok::semantic_pack
