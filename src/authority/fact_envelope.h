// FactEnvelope: one fact about the world (a dotted path and a JSON value) with where it came from
// and how it can be proven.
//
// The caller passes a JSON array of envelopes next to each request; the engine also makes
// envelopes itself, for the request's context (caller facts) and for derived facts. The reader
// checks form and types only; whether a fact is trusted is decided during evaluation. Date-times
// are RFC 3339 texts held as UTC instants (the offset given is not kept).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "authority/derived_fact_lineage.h"
#include "authority/enumerations.h"
#include "time/rfc3339.h"
#include "json/deserializer.h"
#include "json/value.h"

namespace vok::authority {

struct FactEnvelope {
    std::string path;
    // Required; null is a value like any other.
    json::Value value;
    SourceClass source_class = SourceClass::UnknownSource;
    std::string source_id;
    UtcInstant observed_at;
    std::optional<UtcInstant> expires_at;
    std::optional<std::string> evidence_ref;
    std::optional<std::string> signature;
    std::optional<double> confidence;
    std::optional<DerivedFactLineage> lineage;

    // An object of the ten keys or an array of the ten values in field order.
    static Result<FactEnvelope, json::Error> read(json::Deserializer& de);

    // Reads the whole of `text` as a JSON array of envelopes, in array order; "[]" gives none.
    // The error is the JSON reader's (or the date parser's) message with its position.
    static Result<std::vector<FactEnvelope>, std::string> deserialize_list(std::string_view text);
};

} // namespace vok::authority
