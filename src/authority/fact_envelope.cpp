// Reading fact envelopes and the caller's fact list; see fact_envelope.h.
#include "authority/fact_envelope.h"

#include "authority/record_fields.h"

namespace vok::authority {

namespace {

Result<std::vector<FactEnvelope>, json::Error> read_envelope_list(json::Deserializer& de) {
    return read_list(de, &FactEnvelope::read);
}

} // namespace

Result<FactEnvelope, json::Error> FactEnvelope::read(json::Deserializer& de) {
    FactEnvelope f;
    json::Field fields[] = {
        string_field("path", f.path),
        value_field("value", f.value),
        record_field("source_class", f.source_class, &read_source_class),
        string_field("source_id", f.source_id),
        instant_field("observed_at", f.observed_at),
        optional_instant_field("expires_at", f.expires_at),
        optional_string_field("evidence_ref", f.evidence_ref),
        optional_string_field("signature", f.signature),
        optional_f64_field("confidence", f.confidence),
        optional_record_field("lineage", f.lineage, &DerivedFactLineage::read),
    };
    VOK_TRY(json::read_struct(de, "struct FactEnvelope", fields));
    return f;
}

Result<std::vector<FactEnvelope>, std::string>
FactEnvelope::deserialize_list(std::string_view text) {
    return read_authority_document(text, &read_envelope_list);
}

} // namespace vok::authority
