// An alias of a pack; the definitions behind alias_def.h.
#include "semantic_pack/alias_def.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<AliasDef> kMembers[] = {
    member<&AliasDef::alias>("alias"),
    member<&AliasDef::normalized_alias>("normalized_alias"),
    member<&AliasDef::target_concept_id>("target_concept_id"),
    member<&AliasDef::status>("status"),
    member<&AliasDef::confidence>("confidence"),
    member<&AliasDef::decision_ref>("decision_ref"),
    member<&AliasDef::source_ref>("source_ref"),
};
constexpr auto kLayout = record_layout("struct AliasDef", kMembers);

} // namespace

VOK_RECORD_JSON(AliasDef, kLayout)

} // namespace vok::semantic_pack
