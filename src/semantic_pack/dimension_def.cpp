// A dimension of measure of a pack; the definitions behind dimension_def.h.
#include "semantic_pack/dimension_def.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<DimensionDef> kMembers[] = {
    member<&DimensionDef::id>("id"),
    member<&DimensionDef::name>("name"),
    defaulted_member<&DimensionDef::source_refs>("source_refs"),
};
constexpr auto kLayout = record_layout("struct DimensionDef", kMembers);

} // namespace

VOK_RECORD_JSON(DimensionDef, kLayout)

} // namespace vok::semantic_pack
