// Validation options: how strictly graph validation and concept resolution judge what they find.
//
// The caller passes them as JSON text. Every key has a default and may be left out (so "{}" is
// the default options), but a key given as null is refused; the array form may stop after any
// value.
#pragma once

#include <string>
#include <string_view>

#include "semantic_pack/enumerations.h"
#include "semantic_pack/record_layout.h"
#include "json/deserializer.h"

namespace vok::semantic_pack {

struct ValidationOptions {
    ValidationMode mode = ValidationMode::Warn;
    UnknownConceptPolicy unknown_concept_policy = UnknownConceptPolicy::Warning;
    DeprecatedConceptPolicy deprecated_policy = DeprecatedConceptPolicy::Warn;
    bool require_signed_pack = false;
    bool allow_unsigned_test_fixtures = false;

    static Result<ValidationOptions, json::Error> read(json::Deserializer& de);
    // Reads a whole text holding one options value.
    static Result<ValidationOptions, json::Error> deserialize(std::string_view text);

    friend bool operator==(const ValidationOptions&, const ValidationOptions&) = default;
};

json::Status read_into(json::Deserializer& de, ValidationOptions& options);
void write_json(RecordWriter& w, const ValidationOptions& options);

} // namespace vok::semantic_pack
