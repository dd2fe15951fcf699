// Mapping: how the model's elements are written in a target format, rule by rule.
//
// The rule type is shared with the syntax tree, which builds rules from a mapping declaration;
// the lowering copies them into the graph's record unchanged.
#pragma once

#include <string>
#include <vector>

#include "primitives/target_format.h"
#include "uuid/uuid.h"
#include "json/value.h"

namespace vok {

struct MappingRule {
    std::string primitive_type; // Entity, Resource, Flow, Policy or Instance, as written
    std::string primitive_name;
    std::string target_type;
    json::Object fields;
    friend bool operator==(const MappingRule&, const MappingRule&) = default;
};

struct Mapping {
    Uuid id; // concept id of namespace and name
    std::string name;
    std::string namespace_;
    TargetFormat target_format = TargetFormat::Calm;
    std::vector<MappingRule> rules; // in declaration order
    friend bool operator==(const Mapping&, const Mapping&) = default;
};

} // namespace vok
