// Resource::make; see resource.h. The id is the concept id of namespace and name.
#include "primitives/resource.h"

#include <utility>

#include "concept_id/concept_id.h"

namespace vok {

Resource Resource::make(std::string name, Unit unit, std::string namespace_name) {
    Uuid id = concept_id_for(namespace_name, name);
    return Resource{
        id, std::move(name), std::move(unit), SharedText(std::move(namespace_name)), {}};
}

} // namespace vok
