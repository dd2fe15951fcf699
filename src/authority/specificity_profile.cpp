// Reading the specificity profile; see specificity_profile.h.
#include "authority/specificity_profile.h"

#include "authority/record_fields.h"

namespace vok::authority {

Result<SpecificityProfile, json::Error> SpecificityProfile::read(json::Deserializer& de) {
    SpecificityProfile p;
    json::Field fields[] = {
        string_field("id", p.id),
        string_list_field("dimensions", p.dimensions),
        value_field("scoring_rules", p.scoring_rules),
        string_field("hash", p.hash),
    };
    VOK_TRY(json::read_struct(de, "struct SpecificityProfile", fields));
    return p;
}

} // namespace vok::authority
