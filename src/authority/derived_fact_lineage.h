// DerivedFactLineage: how a derived fact was produced (which transform, from which facts of which
// trust) and the trust class the result was given.
//
// The engine makes these for the facts its transforms derive and writes them into the decision
// trace; an incoming fact envelope may also carry one, read with the same keys.
#pragma once

#include <string>
#include <vector>

#include "authority/enumerations.h"
#include "json/deserializer.h"
#include "json/writer.h"

namespace vok::authority {

struct DerivedFactLineage {
    std::string transform_id;
    std::string transform_version;
    std::string transform_hash;
    std::vector<std::string> input_fact_paths;
    // The trust class of each input, in the order of `input_fact_paths`.
    std::vector<SourceClass> input_source_classes;
    SourceClass effective_trust = SourceClass::UnknownSource;
    bool trust_upgrade_applied = false;

    // An object of the seven keys or an array of the seven values in field order.
    static Result<DerivedFactLineage, json::Error> read(json::Deserializer& de);
    // The object with its seven keys in field order.
    void write(json::Writer& w) const;
};

} // namespace vok::authority
