// Reading a configured fact transform and its parts; see fact_transform.h.
#include "authority/fact_transform.h"

#include "authority/record_fields.h"

namespace vok::authority {

Result<TransformInput, json::Error> TransformInput::read(json::Deserializer& de) {
    TransformInput in;
    json::Field fields[] = {
        string_field("fact_path", in.fact_path),
        record_field("source_classes", in.source_classes, &read_source_class_list),
    };
    VOK_TRY(json::read_struct(de, "struct TransformInput", fields));
    return in;
}

Result<TransformOutput, json::Error> TransformOutput::read(json::Deserializer& de) {
    TransformOutput out;
    json::Field fields[] = {string_field("fact_path", out.fact_path)};
    VOK_TRY(json::read_struct(de, "struct TransformOutput", fields));
    return out;
}

Result<PurityFlags, json::Error> PurityFlags::read(json::Deserializer& de) {
    PurityFlags p;
    json::Field fields[] = {
        bool_field("network_access", p.network_access),
        bool_field("filesystem_access", p.filesystem_access),
        bool_field("clock_access", p.clock_access),
        bool_field("random_access", p.random_access),
        bool_field("side_effects", p.side_effects),
        bool_field("global_state_access", p.global_state_access),
    };
    VOK_TRY(json::read_struct(de, "struct PurityFlags", fields));
    return p;
}

Result<FactTransform, json::Error> FactTransform::read(json::Deserializer& de) {
    FactTransform t;
    json::Field fields[] = {
        string_field("id", t.id),
        string_field("version", t.version),
        string_field("hash", t.hash),
        list_field("inputs", t.inputs, &TransformInput::read),
        record_field("output", t.output, &TransformOutput::read),
        record_field("purity", t.purity, &PurityFlags::read),
        string_list_field("determinism_tests", t.determinism_tests),
    };
    VOK_TRY(json::read_struct(de, "struct FactTransform", fields));
    return t;
}

} // namespace vok::authority
