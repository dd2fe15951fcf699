// A governed concept of a pack and its definition; the definitions behind concept_def.h.
#include "semantic_pack/concept_def.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<ConceptDefinition> kDefinitionMembers[] = {
    member<&ConceptDefinition::text>("text"),
    member<&ConceptDefinition::definition_hash>("definition_hash"),
    member<&ConceptDefinition::decision_ref>("decision_ref"),
};
constexpr auto kDefinitionLayout = record_layout("struct ConceptDefinition", kDefinitionMembers);

constexpr Member<ConceptDef> kConceptMembers[] = {
    member<&ConceptDef::id>("id"),
    member<&ConceptDef::canonical_name>("canonical_name"),
    member<&ConceptDef::kind>("kind"),
    member<&ConceptDef::status>("status"),
    member<&ConceptDef::definition>("definition"),
    member<&ConceptDef::owner>("owner"),
    defaulted_member<&ConceptDef::source_refs>("source_refs"),
    defaulted_member<&ConceptDef::examples>("examples"),
    defaulted_member<&ConceptDef::counterexamples>("counterexamples"),
    defaulted_member<&ConceptDef::allowed_predicates>("allowed_predicates"),
    defaulted_member<&ConceptDef::valid_contexts>("valid_contexts"),
};
constexpr auto kConceptLayout = record_layout("struct ConceptDef", kConceptMembers);

} // namespace

VOK_RECORD_JSON(ConceptDefinition, kDefinitionLayout)

VOK_RECORD_JSON(ConceptDef, kConceptLayout)

} // namespace vok::semantic_pack
