// Role: a part that entities play in relations (Buyer, Seller).
#pragma once

#include <string>

#include "primitives/shared_text.h"
#include "uuid/uuid.h"
#include "json/value.h"

namespace vok {

struct Role {
    Uuid id;
    std::string name;
    SharedText namespace_; // shared with every record of the file that names it
    json::Object attributes;

    static Role make(std::string name, std::string namespace_name);

    void set_attribute(std::string key, json::Value value) {
        attributes.insert_or_assign(std::move(key), std::move(value));
    }
};

} // namespace vok
