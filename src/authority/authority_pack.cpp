#include "authority/authority_pack.h"

#include "authority/record_fields.h"
#include "json/value_deserializer.h"

namespace vok::authority {

Result<AuthorityPack, json::Error> AuthorityPack::read(json::Deserializer& de) {
    AuthorityPack p;
    json::Field fields[] = {
        string_field("id", p.id),
        string_field("version", p.version),
        string_field("semantics_version", p.semantics_version),
        string_field("required_specificity_profile", p.required_specificity_profile),
        record_field("policies", p.policies, &AuthorityPolicy::read_list),
        string_field("hash", p.hash),
        optional_string_field("signature", p.signature),
        optional_string_field("owner", p.owner),
        optional_string_field("created_at", p.created_at),
        optional_string_field("approved_by", p.approved_by),
        optional_string_field("evidence_ref", p.evidence_ref),
    };
    VOK_TRY(json::read_struct(de, "struct AuthorityPack", fields));
    return p;
}

Result<AuthorityPack, std::string> AuthorityPack::from_value(const json::Value& value) {
    json::ValueDeserializer de(value);
    auto pack = read(de);
    if (!pack.ok()) return Err(pack.error().to_string());
    return std::move(*pack);
}

} // namespace vok::authority
