// AuthorityEnvironmentConfig: the configuration an authority environment is built from, read from
// one JSON text in a single pass.
//
// The reader checks form and types only: what the engine requires of the values (a non-empty
// source id, declared allowed paths, pure transforms, agreeing versions, defaults other than
// allow) is checked when the environment is built and validated. The policy packs are kept as the
// raw JSON values given and read as packs at build time. All nine keys are required; every record
// is also accepted as an array of its values in field order.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "authority/fact_source.h"
#include "authority/fact_transform.h"
#include "authority/specificity_profile.h"
#include "authority/unknown_handling.h"
#include "json/deserializer.h"
#include "json/value.h"

namespace vok::authority {

struct AuthorityEnvironmentConfig {
    std::string resolver_semantics_version;
    SpecificityProfile specificity_profile;
    UnknownHandlingConfig unknown_handling;
    std::vector<FactSource> fact_sources;
    std::vector<FactTransform> fact_transforms;
    std::vector<json::Value> authority_packs;
    bool strict_mode = false;
    std::string compatibility_lowering_version;
    std::string resolver_version;

    // Reads the whole of `text`; the error is the JSON reader's message with its position.
    static Result<AuthorityEnvironmentConfig, std::string> deserialize(std::string_view text);
    static Result<AuthorityEnvironmentConfig, json::Error> read(json::Deserializer& de);
};

} // namespace vok::authority
