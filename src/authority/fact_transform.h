// FactTransform: a pure transform that may derive one fact from facts already known, with the
// records it is made of (its inputs, its output and its declared side effects).
//
// The environment registers a transform under its id, "@" and its version; every fact it derives
// names its hash in its lineage. A transform must declare itself free of every side effect: the
// environment refuses one with any purity flag set. `determinism_tests` and the inputs'
// `source_classes` are held for the operator only.
#pragma once

#include <string>
#include <vector>

#include "authority/enumerations.h"
#include "json/deserializer.h"

namespace vok::authority {

struct TransformInput {
    std::string fact_path;
    // The source classes declared for the input; may be empty.
    std::vector<SourceClass> source_classes;

    static Result<TransformInput, json::Error> read(json::Deserializer& de);
};

struct TransformOutput {
    std::string fact_path;

    static Result<TransformOutput, json::Error> read(json::Deserializer& de);
};

// Declared side effects, all required; a transform is pure when every flag is false.
struct PurityFlags {
    bool network_access = false;
    bool filesystem_access = false;
    bool clock_access = false;
    bool random_access = false;
    bool side_effects = false;
    bool global_state_access = false;

    bool is_pure() const {
        return !network_access && !filesystem_access && !clock_access && !random_access &&
               !side_effects && !global_state_access;
    }

    static Result<PurityFlags, json::Error> read(json::Deserializer& de);
};

struct FactTransform {
    std::string id;
    std::string version;
    std::string hash;
    std::vector<TransformInput> inputs;
    TransformOutput output;
    PurityFlags purity;
    std::vector<std::string> determinism_tests;

    static Result<FactTransform, json::Error> read(json::Deserializer& de);
};

} // namespace vok::authority
