// Role::make; see role.h. The id is the concept id of namespace and name.
#include "primitives/role.h"

#include <utility>

#include "concept_id/concept_id.h"

namespace vok {

Role Role::make(std::string name, std::string namespace_name) {
    Uuid id = concept_id_for(namespace_name, name);
    return Role{id, std::move(name), SharedText(std::move(namespace_name)), {}};
}

} // namespace vok
