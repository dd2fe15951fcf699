// Entity: a participant of the modelled domain (a warehouse, a supplier, a customer).
//
// Like every graph record, an entity is a plain value: the graph, lowering and the Python objects
// each hold copies. Its id is the concept id of its namespace and name, fixed when it is made;
// later edits of `name` or `namespace_` do not change it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/rare_fields.h"
#include "primitives/shared_text.h"
#include "semantic_version/semantic_version.h"
#include "uuid/uuid.h"
#include "json/value.h"

namespace vok {

struct Entity {
    Uuid id;
    std::string name;
    SharedText namespace_; // shared with every record of the file that names it
    std::optional<SemanticVersion> version;
    RareOptional<std::string> replaces; // the concept this one replaces, as annotated
    RareList<std::string> changes;      // change descriptions, as annotated
    json::Object attributes;            // open attributes; keys kept sorted

    // No version, no replaces, no changes, no attributes.
    static Entity make(std::string name, std::string namespace_name);

    // Replaces (and drops) any value already under the key.
    void set_attribute(std::string key, json::Value value) {
        attributes.insert_or_assign(std::move(key), std::move(value));
    }
};

} // namespace vok
