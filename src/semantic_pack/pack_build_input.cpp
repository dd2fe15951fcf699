// The input of a pack build; the definitions behind pack_build_input.h.
#include "semantic_pack/pack_build_input.h"

namespace vok::semantic_pack {

namespace {

// `previous_pack` holds a whole pack, not a text: the generic member reads optional values as
// texts, so this one is spelled out. Null and a missing key are consumed by the record reader and
// leave the pack absent.
constexpr Member<PackBuildInput> previous_pack_member() {
    Member<PackBuildInput> m;
    m.key = "previous_pack";
    m.optional = true;
    m.present = [](const PackBuildInput& in) { return in.previous_pack.has_value(); };
    m.write = [](RecordWriter& w, const PackBuildInput& in) { write_json(w, *in.previous_pack); };
    m.read = [](json::Deserializer& de, PackBuildInput& in) -> json::Status {
        in.previous_pack.emplace();
        return read_into(de, *in.previous_pack);
    };
    return m;
}

constexpr Member<PackBuildInput> kMembers[] = {
    member<&PackBuildInput::org_id>("org_id"),
    member<&PackBuildInput::domain_id>("domain_id"),
    member<&PackBuildInput::pack_version>("pack_version"),
    member<&PackBuildInput::meaning_version>("meaning_version"),
    member<&PackBuildInput::approval>("approval"),
    member<&PackBuildInput::concepts>("concepts"),
    member<&PackBuildInput::relations>("relations"),
    member<&PackBuildInput::metrics>("metrics"),
    member<&PackBuildInput::dimensions>("dimensions"),
    member<&PackBuildInput::units>("units"),
    member<&PackBuildInput::aliases>("aliases"),
    member<&PackBuildInput::mapping_rules>("mapping_rules"),
    member<&PackBuildInput::review_records>("review_records"),
    previous_pack_member(),
    member<&PackBuildInput::allow_first_approved_version>("allow_first_approved_version"),
    member<&PackBuildInput::source_graph_hash>("source_graph_hash"),
};
constexpr auto kLayout = record_layout("struct PackBuildInput", kMembers);

} // namespace

Result<PackBuildInput, json::Error> PackBuildInput::read(json::Deserializer& de) {
    return read_record(de, kLayout);
}

json::Status read_into(json::Deserializer& de, PackBuildInput& input) {
    return read_record_into(de, kLayout, input);
}

Result<PackBuildInput, json::Error> parse_pack_build_input(std::string_view text) {
    return read_text<PackBuildInput>(text);
}

} // namespace vok::semantic_pack
