// Building and validating an AuthorityEnvironment; see environment.h. Blank texts are judged by
// Unicode White_Space (common/unicode_white_space.h). Both poll for cancellation per record:
// building fills an environment nobody holds yet, and validation marks it valid only at the end.
#include "authority/environment.h"

#include <utility>

#include "authority/trace_identity.h"
#include "authority/unknown_handling.h"
#include "common/cancellation.h"
#include "common/unicode_white_space.h"

namespace vok::authority {

namespace {

template <class Registry, class V>
void register_entry(Registry& registry, std::string key, V value) {
    if (V* existing = registry.find(key))
        *existing = std::move(value);
    else
        registry.insert(std::move(key), std::move(value));
}

Result<void, AuthorityError> check_policies(const AuthorityPack& pack) {
    for (const AuthorityPolicy& policy : pack.policies) {
        poll_cancellation();
        if (policy.policy_id.empty()) return Err(AuthorityError::policy_id_required());
        if (policy.modality == PolicyModality::Override && !policy.override_spec)
            return Err(AuthorityError::override_without_spec(policy.policy_id));
    }
    return Ok();
}

Result<AuthorityPack, AuthorityError> read_pack(const json::Value& value,
                                                std::string_view resolver_semantics) {
    auto read = AuthorityPack::from_value(value);
    if (!read.ok()) return Err(AuthorityError::pack_unreadable(read.error()));
    AuthorityPack pack = std::move(*read);
    if (pack.id.empty()) return Err(AuthorityError::pack_id_required());
    if (pack.version.empty()) return Err(AuthorityError::pack_version_required(pack.id));
    VOK_TRY(check_policies(pack));
    if (pack.semantics_version != resolver_semantics)
        return Err(AuthorityError::pack_semantics_unsupported(pack.id, pack.semantics_version,
                                                              resolver_semantics));
    return pack;
}

} // namespace

Result<AuthorityEnvironment, AuthorityError> build_environment(AuthorityEnvironmentConfig config) {
    AuthorityEnvironment env;
    env.sources_.reserve(config.fact_sources.size());
    for (const FactSource& source : config.fact_sources) {
        poll_cancellation();
        if (source.id.empty()) return Err(AuthorityError::fact_source_id_required());
        register_entry(env.sources_, source.id, source);
    }

    env.transforms_.reserve(config.fact_transforms.size());
    for (const FactTransform& transform : config.fact_transforms) {
        poll_cancellation();
        if (!transform.purity.is_pure())
            return Err(AuthorityError::transform_not_pure(transform.id));
        register_entry(env.transforms_, transform.id + "@" + transform.version, transform);
    }

    env.packs_.reserve(config.authority_packs.size());
    for (const json::Value& value : config.authority_packs) {
        poll_cancellation();
        VOK_ASSIGN(AuthorityPack pack, read_pack(value, config.resolver_semantics_version));
        env.packs_.push_back(std::move(pack));
    }

    if (trim_white_space(config.compatibility_lowering_version).empty())
        return Err(AuthorityError::compatibility_lowering_version_required());

    const std::string& semantics = config.resolver_semantics_version;
    const std::string& lowering = config.compatibility_lowering_version;
    env.compiler_ = {semantics, lowering};
    env.auditor_version_ = lowering;
    env.resolver_ = {config.specificity_profile, semantics, lowering};
    env.trace_versions_ = {config.resolver_version, semantics, lowering};
    env.resolver_semantics_hash_ = hash_hex(semantics);
    env.unknown_handling_hash_ = hash_hex(unknown_handling_defaults_text(config.unknown_handling));
    env.evidence_store_ = std::make_shared<EvidenceStore>();
    env.validated_ = false;
    env.config_ = std::move(config);
    return env;
}

Result<void, AuthorityError> validate(AuthorityEnvironment& env) {
    for (const auto& [id, source] : env.sources_) {
        poll_cancellation();
        if (source.allowed_paths.empty())
            return Err(AuthorityError::source_without_allowed_paths(id));
    }
    for (const auto& [key, transform] : env.transforms_) {
        poll_cancellation();
        if (!transform.purity.is_pure())
            return Err(AuthorityError::impure_transform_in_registry(transform.id));
    }

    // Build copies every version from the configuration, so these agree on every environment it
    // made; they guard against an environment whose parts were set up for different versions.
    const std::string& semantics = env.config_.resolver_semantics_version;
    const std::string& lowering = env.config_.compatibility_lowering_version;
    if (env.compiler_.semantics_version != semantics)
        return Err(AuthorityError::compiler_semantics_mismatch(env.compiler_.semantics_version,
                                                               semantics));
    if (env.compiler_.compatibility_version != lowering)
        return Err(AuthorityError::compiler_compatibility_mismatch(
            env.compiler_.compatibility_version, lowering));
    if (env.auditor_version_ != lowering)
        return Err(AuthorityError::auditor_compatibility_mismatch(env.auditor_version_, lowering));
    if (env.resolver_.semantics_version != semantics)
        return Err(AuthorityError::resolver_semantics_mismatch(env.resolver_.semantics_version,
                                                               semantics));
    if (env.resolver_.compatibility_version != lowering)
        return Err(AuthorityError::resolver_compatibility_mismatch(
            env.resolver_.compatibility_version, lowering));

    if (env.config_.strict_mode) {
        const std::string& profile_id = env.config_.specificity_profile.id;
        for (const AuthorityPack& pack : env.packs_) {
            poll_cancellation();
            if (pack.required_specificity_profile != profile_id)
                return Err(AuthorityError::incompatible_specificity_profiles(pack.id, profile_id));
        }
    }

    // Allow as the answer to "facts unknown" would let missing facts grant access for the two
    // modalities that decide access on their own; obligations and overrides may default to it.
    const UnknownHandlingConfig& unknown = env.config_.unknown_handling;
    if (unknown.permission.default_ == FinalDecision::Allow)
        return Err(AuthorityError::unknown_permission_allows());
    if (unknown.prohibition.default_ == FinalDecision::Allow)
        return Err(AuthorityError::unknown_prohibition_allows());

    env.validated_ = true;
    return Ok();
}

} // namespace vok::authority
