// Entity::make; see entity.h. The id is the concept id of namespace and name.
#include "primitives/entity.h"

#include <utility>

#include "concept_id/concept_id.h"

namespace vok {

Entity Entity::make(std::string name, std::string namespace_name) {
    Entity entity;
    entity.id = concept_id_for(namespace_name, name);
    entity.name = std::move(name);
    entity.namespace_ = std::move(namespace_name);
    return entity;
}

} // namespace vok
