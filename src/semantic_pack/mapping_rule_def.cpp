// A mapping rule of a pack; the definitions behind mapping_rule_def.h.
#include "semantic_pack/mapping_rule_def.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<MappingRuleDef> kMembers[] = {
    member<&MappingRuleDef::id>("id"),
    member<&MappingRuleDef::source_term>("source_term"),
    member<&MappingRuleDef::target_concept_id>("target_concept_id"),
    member<&MappingRuleDef::confidence>("confidence"),
    member<&MappingRuleDef::decision_ref>("decision_ref"),
};
constexpr auto kLayout = record_layout("struct MappingRuleDef", kMembers);

} // namespace

VOK_RECORD_JSON(MappingRuleDef, kLayout)

} // namespace vok::semantic_pack
