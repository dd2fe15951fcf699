// Reading policies from a pack's parsed value; see authority_policy.h.
#include "authority/authority_policy.h"

#include "authority/record_fields.h"
#include "json/value_deserializer.h"

namespace vok::authority {

Result<StructuralPredicates, json::Error> StructuralPredicates::read(json::Deserializer& de) {
    VOK_ASSIGN(json::Object predicates, read_value_map(de, "struct StructuralPredicates"));
    return StructuralPredicates{std::move(predicates)};
}

Result<ConditionPredicates, json::Error> ConditionPredicates::read(json::Deserializer& de) {
    VOK_ASSIGN(json::Object predicates, read_value_map(de, "struct ConditionPredicates"));
    return ConditionPredicates{std::move(predicates)};
}

Result<ObligationSpec, json::Error> ObligationSpec::read(json::Deserializer& de) {
    ObligationSpec s;
    json::Field fields[] = {
        string_field("action", s.action),
        optional_string_field("deadline", s.deadline),
    };
    VOK_TRY(json::read_struct(de, "struct ObligationSpec", fields));
    return s;
}

Result<OverrideSpec, json::Error> OverrideSpec::read(json::Deserializer& de) {
    OverrideSpec s;
    json::Field fields[] = {string_field("permits", s.permits)};
    VOK_TRY(json::read_struct(de, "struct OverrideSpec", fields));
    return s;
}

Result<AuthorityPolicy, json::Error> AuthorityPolicy::read(json::Deserializer& de) {
    AuthorityPolicy p;
    json::Field fields[] = {
        string_field("policy_id", p.policy_id),
        record_field("modality", p.modality, &read_policy_modality),
        record_field("priority", p.priority, &json::read_i32),
        record_field("applies_to", p.applies_to, &StructuralPredicates::read),
        optional_record_field("when", p.when, &ConditionPredicates::read),
        defaulted(list_field("requires_fact", p.requires_fact, &FactRequirement::read)),
        string_field("semantics_version", p.semantics_version),
        optional_record_field("override_spec", p.override_spec, &OverrideSpec::read),
        optional_record_field("obligation_spec", p.obligation_spec, &ObligationSpec::read),
        optional_string_field("description", p.description),
        optional_string_field("evidence_ref", p.evidence_ref),
    };
    VOK_TRY(json::read_struct(de, "struct AuthorityPolicy", fields));
    return p;
}

Result<std::vector<AuthorityPolicy>, json::Error>
AuthorityPolicy::read_list(json::Deserializer& de) {
    return authority::read_list(de, &AuthorityPolicy::read);
}

Result<std::vector<AuthorityPolicy>, std::string>
AuthorityPolicy::from_value_list(const json::Value& v) {
    json::ValueDeserializer de(v);
    auto policies = read_list(de);
    if (!policies.ok()) return Err(policies.error().to_string());
    return std::move(*policies);
}

} // namespace vok::authority
