// Projection: adjustments to how the model is projected onto a target format, per element.
//
// The override type is shared with the syntax tree, which builds overrides from a projection
// declaration; the lowering copies them into the graph's record unchanged.
#pragma once

#include <string>
#include <vector>

#include "primitives/target_format.h"
#include "uuid/uuid.h"
#include "json/value.h"

namespace vok {

struct ProjectionOverride {
    std::string primitive_type;
    std::string primitive_name;
    json::Object fields;
    friend bool operator==(const ProjectionOverride&, const ProjectionOverride&) = default;
};

struct Projection {
    Uuid id; // concept id of namespace and name
    std::string name;
    std::string namespace_;
    TargetFormat target_format = TargetFormat::Calm;
    std::vector<ProjectionOverride> overrides; // in declaration order
    friend bool operator==(const Projection&, const Projection&) = default;
};

} // namespace vok
