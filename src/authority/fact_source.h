// FactSource: one source that the configuration allows to assert facts.
//
// A source names the class its facts must carry, the fact paths it may assert (each entry covers
// the path and the paths below it) and whether its facts must bring evidence and a signature. The
// remaining fields are held for the operator; the engine does not act on them. The reader checks
// form and types only; an empty id or an empty `allowed_paths` is refused when the environment is
// built and validated.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "authority/enumerations.h"
#include "json/deserializer.h"

namespace vok::authority {

struct FactSource {
    std::string id;
    SourceClass source_class = SourceClass::UnknownSource;
    std::vector<std::string> allowed_paths;
    bool evidence_required = false;
    bool signature_required = false;
    uint64_t max_response_latency_ms = 0;
    std::optional<std::string> health_endpoint;
    std::optional<std::string> credential_ref;
    std::optional<std::string> schema_ref;
    std::optional<std::string> owner;
    std::optional<std::string> recovery_hint;

    // An object of the eleven keys or an array of the eleven values in field order.
    static Result<FactSource, json::Error> read(json::Deserializer& de);
};

} // namespace vok::authority
