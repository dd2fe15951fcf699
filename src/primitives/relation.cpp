// Relation::make; see relation.h. The id is the concept id of namespace and name.
#include "primitives/relation.h"

#include <utility>

#include "concept_id/concept_id.h"

namespace vok {

Relation Relation::make(std::string name, std::string namespace_name, Uuid subject_role_id,
                        std::string predicate, Uuid object_role_id,
                        std::optional<Uuid> via_flow_id) {
    Uuid id = concept_id_for(namespace_name, name);
    return Relation{id,
                    std::move(name),
                    SharedText(std::move(namespace_name)),
                    subject_role_id,
                    std::move(predicate),
                    object_role_id,
                    via_flow_id};
}

} // namespace vok
