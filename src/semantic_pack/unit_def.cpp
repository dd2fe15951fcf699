// A unit of measure of a pack, in one of its dimensions; the definitions behind unit_def.h.
#include "semantic_pack/unit_def.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<UnitDef> kMembers[] = {
    member<&UnitDef::id>("id"),
    member<&UnitDef::symbol>("symbol"),
    member<&UnitDef::dimension_id>("dimension_id"),
    defaulted_member<&UnitDef::source_refs>("source_refs"),
};
constexpr auto kLayout = record_layout("struct UnitDef", kMembers);

} // namespace

VOK_RECORD_JSON(UnitDef, kLayout)

} // namespace vok::semantic_pack
