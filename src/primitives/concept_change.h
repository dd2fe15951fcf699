// ConceptChange: a declared change of a concept between two versions and how to migrate.
//
// The versions and the migration policy stay the text written in the source; nothing here
// interprets them.
#pragma once

#include <string>

#include "uuid/uuid.h"

namespace vok {

struct ConceptChange {
    Uuid id;
    std::string name;
    std::string from_version;
    std::string to_version;
    std::string migration_policy;
    bool breaking_change = false;
    friend bool operator==(const ConceptChange&, const ConceptChange&) = default;
};

} // namespace vok
