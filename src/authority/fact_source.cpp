// Reading a configured fact source; see fact_source.h.
#include "authority/fact_source.h"

#include "authority/record_fields.h"

namespace vok::authority {

Result<FactSource, json::Error> FactSource::read(json::Deserializer& de) {
    FactSource s;
    json::Field fields[] = {
        string_field("id", s.id),
        record_field("source_class", s.source_class, &read_source_class),
        string_list_field("allowed_paths", s.allowed_paths),
        bool_field("evidence_required", s.evidence_required),
        bool_field("signature_required", s.signature_required),
        record_field("max_response_latency_ms", s.max_response_latency_ms, &json::read_u64),
        optional_string_field("health_endpoint", s.health_endpoint),
        optional_string_field("credential_ref", s.credential_ref),
        optional_string_field("schema_ref", s.schema_ref),
        optional_string_field("owner", s.owner),
        optional_string_field("recovery_hint", s.recovery_hint),
    };
    VOK_TRY(json::read_struct(de, "struct FactSource", fields));
    return s;
}

} // namespace vok::authority
