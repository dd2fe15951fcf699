// Flow::make; see flow.h. The id is a random (version 4) UUID.
#include "primitives/flow.h"

namespace vok {

Flow Flow::make(Uuid resource_id, Uuid from_id, Uuid to_id, Decimal quantity) {
    return Flow{Uuid::new_v4(), resource_id, from_id, to_id, quantity, SharedText("default"), {}};
}

} // namespace vok
