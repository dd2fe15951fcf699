// The semantic-pack document; the definitions behind semantic_pack.h.
#include "semantic_pack/semantic_pack.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<SemanticPack> kMembers[] = {
    member<&SemanticPack::schema_version>("schema_version"),
    member<&SemanticPack::pack_id>("pack_id"),
    member<&SemanticPack::org_id>("org_id"),
    member<&SemanticPack::domain_id>("domain_id"),
    member<&SemanticPack::pack_version>("pack_version"),
    member<&SemanticPack::meaning_version>("meaning_version"),
    member<&SemanticPack::meaning_fingerprint>("meaning_fingerprint"),
    member<&SemanticPack::source_graph_hash>("source_graph_hash"),
    member<&SemanticPack::build_config_hash>("build_config_hash"),
    member<&SemanticPack::review_manifest_hash>("review_manifest_hash"),
    member<&SemanticPack::created_at>("created_at"),
    member<&SemanticPack::generator>("generator"),
    member<&SemanticPack::trust>("trust"),
    member<&SemanticPack::concepts>("concepts"),
    member<&SemanticPack::relations>("relations"),
    member<&SemanticPack::metrics>("metrics"),
    member<&SemanticPack::dimensions>("dimensions"),
    member<&SemanticPack::units>("units"),
    member<&SemanticPack::aliases>("aliases"),
    member<&SemanticPack::mapping_rules>("mapping_rules"),
    member<&SemanticPack::compatibility>("compatibility"),
};
constexpr auto kLayout = record_layout("struct SemanticPack", kMembers);

} // namespace

VOK_RECORD_JSON(SemanticPack, kLayout)

std::string SemanticPack::serialize() const {
    return record_text(*this, kLayout);
}

Result<SemanticPack, json::Error> parse_semantic_pack(std::string_view text) {
    return read_text<SemanticPack>(text);
}

} // namespace vok::semantic_pack
