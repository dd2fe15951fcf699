// Flow: a quantity of a resource moving from one entity to another.
//
// Flows are not named, so their ids are random (two equal flows are still two flows). A new flow
// is in the namespace "default"; whoever knows better (the lowering knows the file's namespace)
// sets `namespace_` afterwards. The referenced ids are plain UUIDs: whether they name records is
// checked by the graph when the flow is added, not here.
#pragma once

#include <string>

#include "decimal/decimal.h"
#include "primitives/shared_text.h"
#include "uuid/uuid.h"
#include "json/value.h"

namespace vok {

struct Flow {
    Uuid id;
    Uuid resource_id;
    Uuid from_id; // source entity
    Uuid to_id;   // target entity
    Decimal quantity;
    SharedText namespace_; // shared with every record of the file that names it
    json::Object attributes;

    // A fresh random id and the namespace "default".
    static Flow make(Uuid resource_id, Uuid from_id, Uuid to_id, Decimal quantity);

    void set_attribute(std::string key, json::Value value) {
        attributes.insert_or_assign(std::move(key), std::move(value));
    }
};

} // namespace vok
