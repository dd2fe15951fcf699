// ResourceInstance::make; see resource_instance.h. The id is a random (version 4) UUID.
#include "primitives/resource_instance.h"

#include <utility>

namespace vok {

ResourceInstance ResourceInstance::make(Uuid resource_id, Uuid entity_id,
                                        std::string namespace_name) {
    return ResourceInstance{
        Uuid::new_v4(), resource_id, entity_id, SharedText(std::move(namespace_name)), {}};
}

} // namespace vok
