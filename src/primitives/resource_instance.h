// ResourceInstance: a particular holding of a resource by an entity (this pallet at that depot).
//
// Made through the graph's interface or by CALM import, never declared in source; like flows it
// has no name, so its id is random.
#pragma once

#include <string>

#include "primitives/shared_text.h"
#include "uuid/uuid.h"
#include "json/value.h"

namespace vok {

struct ResourceInstance {
    Uuid id;
    Uuid resource_id;
    Uuid entity_id;        // the entity that holds it
    SharedText namespace_; // shared with every record of the file that names it
    json::Object attributes;

    // A fresh random id.
    static ResourceInstance make(Uuid resource_id, Uuid entity_id, std::string namespace_name);

    void set_attribute(std::string key, json::Value value) {
        attributes.insert_or_assign(std::move(key), std::move(value));
    }
};

} // namespace vok
