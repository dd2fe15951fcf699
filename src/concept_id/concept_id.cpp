// Concept ids as name-based UUIDs; see concept_id.h. Relies on uuid's version 5 derivation.
#include "concept_id/concept_id.h"

namespace vok {

Uuid concept_id_for(std::string_view namespace_name, std::string_view name) {
    // Hashed piece by piece: joining the text first would allocate for most names.
    return Uuid::new_v5(Uuid::namespace_dns(), {namespace_name, "::", name});
}

} // namespace vok
