// SpecificityProfile: the dimensions along which conflict resolution compares two policies of
// equal modality and priority, with the profile's id and hash for the trace.
//
// `scoring_rules` is any JSON value, null included, kept as given (numbers keep their form); the
// engine does not interpret it.
#pragma once

#include <string>
#include <vector>

#include "json/deserializer.h"
#include "json/value.h"

namespace vok::authority {

struct SpecificityProfile {
    std::string id;
    std::vector<std::string> dimensions;
    json::Value scoring_rules;
    std::string hash;

    static Result<SpecificityProfile, json::Error> read(json::Deserializer& de);
};

} // namespace vok::authority
