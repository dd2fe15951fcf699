// Concept ids as name-based UUIDs; see concept_id.h. Relies on uuid's version 5 derivation.
#include "concept_id/concept_id.h"

#include <string>

namespace vok {

Uuid concept_id_for(std::string_view namespace_name, std::string_view name) {
    std::string text;
    text.reserve(namespace_name.size() + 2 + name.size());
    text.append(namespace_name).append("::").append(name);
    return Uuid::new_v5(Uuid::namespace_dns(), text);
}

} // namespace vok
