// Pack references; the definitions behind pack_ref.h.
#include "semantic_pack/pack_ref.h"

#include "semantic_pack/semantic_pack.h"

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

VOK_RECORD_JSON(PackRef, kPackRefLayout)

PackRef PackRef::for_pack(const SemanticPack& pack) {
    return PackRef{pack.pack_id, pack.content_hash(), "pack://" + pack.pack_id, 0};
}

std::string PackRef::serialize() const {
    return record_text(*this, kPackRefLayout);
}

VOK_RECORD_JSON(PackSetRef, kPackSetRefLayout)

} // namespace vok::semantic_pack
