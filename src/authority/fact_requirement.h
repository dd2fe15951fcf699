// FactRequirement: a fact that a policy needs, and what the fact must show to count: its path,
// the source classes (and optionally the source ids) it may come from, how old it may be, whether
// it must carry evidence and a signature, its least confidence, and for a derived fact the classes
// its inputs may have.
//
// Read from a policy pack's parsed JSON value (no positions). Fields with defaults may be left out
// but not given as null; optional fields may be left out or null.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "authority/enumerations.h"
#include "authority/time_delta.h"
#include "json/deserializer.h"

namespace vok::authority {

struct FactRequirement {
    std::string fact_path;
    // An empty list admits no fact.
    std::vector<SourceClass> allowed_source_classes;
    // Empty means any source.
    std::vector<std::string> allowed_source_ids;
    std::optional<TimeDelta> max_age;
    bool evidence_ref_required = false;
    bool signature_required = false;
    std::optional<double> minimum_confidence;
    std::optional<std::string> required_transform;
    std::optional<std::vector<SourceClass>> derived_from_source;

    static Result<FactRequirement, json::Error> read(json::Deserializer& de);
};

} // namespace vok::authority
