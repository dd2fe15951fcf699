// The enumerations of the semantic-pack documents and their JSON names; the definitions behind
// enumerations.h.
#include "semantic_pack/enumerations.h"

namespace vok::semantic_pack {

json::Value as_json(ConceptStatus status) {
    return json::Value(json_name(status));
}

} // namespace vok::semantic_pack
