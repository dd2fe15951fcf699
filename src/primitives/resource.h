// Resource: something that flows between entities (steel, cash, containers), measured in a unit.
//
// The resource keeps a whole copy of its unit rather than the symbol, so later registrations
// cannot change what an existing resource means. Its id is the concept id of namespace and name.
#pragma once

#include <string>

#include "primitives/shared_text.h"
#include "units/unit.h"
#include "uuid/uuid.h"
#include "json/value.h"

namespace vok {

struct Resource {
    Uuid id;
    std::string name;
    Unit unit;
    SharedText namespace_; // shared with every record of the file that names it
    json::Object attributes;

    static Resource make(std::string name, Unit unit, std::string namespace_name);

    void set_attribute(std::string key, json::Value value) {
        attributes.insert_or_assign(std::move(key), std::move(value));
    }
};

} // namespace vok
