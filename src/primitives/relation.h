// Relation: a named statement between two roles ("Buyer purchases-from Seller"), optionally
// carried by a flow.
//
// The role and flow ids are plain references that nothing checks: a relation may be recorded
// before, or without, the roles it names.
#pragma once

#include <optional>
#include <string>

#include "primitives/shared_text.h"
#include "uuid/uuid.h"

namespace vok {

struct Relation {
    Uuid id;
    std::string name;
    SharedText namespace_; // shared with every record of the file that names it
    Uuid subject_role_id;
    std::string predicate;
    Uuid object_role_id;
    std::optional<Uuid> via_flow_id;

    // Note the order: name and namespace first, then subject, predicate, object and the flow.
    static Relation make(std::string name, std::string namespace_name, Uuid subject_role_id,
                         std::string predicate, Uuid object_role_id,
                         std::optional<Uuid> via_flow_id);
};

} // namespace vok
