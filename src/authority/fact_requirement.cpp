// Reading a policy's fact requirement; see fact_requirement.h.
#include "authority/fact_requirement.h"

#include "authority/record_fields.h"

namespace vok::authority {

Result<FactRequirement, json::Error> FactRequirement::read(json::Deserializer& de) {
    FactRequirement r;
    json::Field fields[] = {
        string_field("fact_path", r.fact_path),
        record_field("allowed_source_classes", r.allowed_source_classes, &read_source_class_list),
        defaulted(string_list_field("allowed_source_ids", r.allowed_source_ids)),
        optional_record_field("max_age", r.max_age, &TimeDelta::read),
        defaulted(bool_field("evidence_ref_required", r.evidence_ref_required)),
        defaulted(bool_field("signature_required", r.signature_required)),
        optional_f64_field("minimum_confidence", r.minimum_confidence),
        optional_string_field("required_transform", r.required_transform),
        optional_record_field("derived_from_source", r.derived_from_source,
                              &read_source_class_list),
    };
    VOK_TRY(json::read_struct(de, "struct FactRequirement", fields));
    return r;
}

} // namespace vok::authority
