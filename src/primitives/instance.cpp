// Instance::make; see instance.h. The id is the concept id of namespace and name.
#include "primitives/instance.h"

#include <utility>

#include "concept_id/concept_id.h"

namespace vok {

Instance Instance::make(std::string name, std::string entity_type, std::string namespace_name) {
    Uuid id = concept_id_for(namespace_name, entity_type + ":" + name);
    return Instance{
        id, std::move(name), std::move(entity_type), SharedText(std::move(namespace_name)), {}};
}

} // namespace vok
