// Instance: a named instance of an entity type ("instance n1 of Order"), with open fields.
//
// The entity type is held by name, not by id: the instance is declared against a type name, and
// the lowering checks that an entity of that name exists. The id is the concept id of the
// namespace and the text entity_type + ":" + name, so instances of different types may share a
// name.
#pragma once

#include <string>

#include "primitives/shared_text.h"
#include "uuid/uuid.h"
#include "json/value.h"

namespace vok {

struct Instance {
    Uuid id;
    std::string name;
    std::string entity_type;
    SharedText namespace_; // shared with every record of the file that names it
    json::Object fields;

    static Instance make(std::string name, std::string entity_type, std::string namespace_name);

    void set_field(std::string key, json::Value value) {
        fields.insert_or_assign(std::move(key), std::move(value));
    }
};

} // namespace vok
