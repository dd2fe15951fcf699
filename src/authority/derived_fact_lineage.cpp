// Reading and writing the lineage of a derived fact; see derived_fact_lineage.h.
#include "authority/derived_fact_lineage.h"

#include "authority/record_fields.h"

namespace vok::authority {

Result<DerivedFactLineage, json::Error> DerivedFactLineage::read(json::Deserializer& de) {
    DerivedFactLineage l;
    json::Field fields[] = {
        string_field("transform_id", l.transform_id),
        string_field("transform_version", l.transform_version),
        string_field("transform_hash", l.transform_hash),
        string_list_field("input_fact_paths", l.input_fact_paths),
        record_field("input_source_classes", l.input_source_classes, &read_source_class_list),
        record_field("effective_trust", l.effective_trust, &read_source_class),
        bool_field("trust_upgrade_applied", l.trust_upgrade_applied),
    };
    VOK_TRY(json::read_struct(de, "struct DerivedFactLineage", fields));
    return l;
}

void DerivedFactLineage::write(json::Writer& w) const {
    w.begin_object();
    w.string_member("transform_id", transform_id);
    w.string_member("transform_version", transform_version);
    w.string_member("transform_hash", transform_hash);
    w.string_list_member("input_fact_paths", input_fact_paths);
    w.key("input_source_classes");
    write_source_class_list(w, input_source_classes);
    w.key("effective_trust");
    write_source_class(w, effective_trust);
    w.bool_member("trust_upgrade_applied", trust_upgrade_applied);
    w.end_object();
}

} // namespace vok::authority
