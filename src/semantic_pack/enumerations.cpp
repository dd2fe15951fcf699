#include "semantic_pack/enumerations.h"

namespace vok::semantic_pack {

json::Value as_json(ConceptStatus status) {
    return json::Value(json_name(status));
}

} // namespace vok::semantic_pack
