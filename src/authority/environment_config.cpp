// Reading the whole authority configuration in one pass; see environment_config.h.
#include "authority/environment_config.h"

#include "authority/record_fields.h"

namespace vok::authority {

namespace {

Result<json::Value, json::Error> read_raw_value(json::Deserializer& de) {
    return de.read_any();
}

} // namespace

Result<AuthorityEnvironmentConfig, json::Error>
AuthorityEnvironmentConfig::read(json::Deserializer& de) {
    AuthorityEnvironmentConfig c;
    json::Field fields[] = {
        string_field("resolver_semantics_version", c.resolver_semantics_version),
        record_field("specificity_profile", c.specificity_profile, &SpecificityProfile::read),
        record_field("unknown_handling", c.unknown_handling, &UnknownHandlingConfig::read),
        list_field("fact_sources", c.fact_sources, &FactSource::read),
        list_field("fact_transforms", c.fact_transforms, &FactTransform::read),
        list_field("authority_packs", c.authority_packs, &read_raw_value),
        bool_field("strict_mode", c.strict_mode),
        string_field("compatibility_lowering_version", c.compatibility_lowering_version),
        string_field("resolver_version", c.resolver_version),
    };
    VOK_TRY(json::read_struct(de, "struct AuthorityEnvironmentConfig", fields));
    return c;
}

Result<AuthorityEnvironmentConfig, std::string>
AuthorityEnvironmentConfig::deserialize(std::string_view text) {
    return read_authority_document(text, &AuthorityEnvironmentConfig::read);
}

} // namespace vok::authority
