// A relation of a pack; the definitions behind relation_def.h.
#include "semantic_pack/relation_def.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<RelationDef> kMembers[] = {
    member<&RelationDef::id>("id"),
    member<&RelationDef::predicate>("predicate"),
    member<&RelationDef::subject_id>("subject_id"),
    member<&RelationDef::object_id>("object_id"),
    member<&RelationDef::cardinality>("cardinality"),
    defaulted_member<&RelationDef::source_refs>("source_refs"),
};
constexpr auto kLayout = record_layout("struct RelationDef", kMembers);

} // namespace

VOK_RECORD_JSON(RelationDef, kLayout)

} // namespace vok::semantic_pack
