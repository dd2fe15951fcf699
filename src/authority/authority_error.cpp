// Kind names and message texts of AuthorityError; see authority_error.h.
#include "authority/authority_error.h"

#include <array>

#include "common/invariant.h"

namespace vok::authority {

namespace {

constexpr std::array<std::string_view, kAuthorityErrorKindCount> kKindNames = {
#define VOK_AUTHORITY_ERROR_KIND_NAME(name) #name,
    VOK_AUTHORITY_ERROR_KINDS(VOK_AUTHORITY_ERROR_KIND_NAME)
#undef VOK_AUTHORITY_ERROR_KIND_NAME
};

using Kind = AuthorityErrorKind;

std::string quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

} // namespace

std::string_view kind_name(AuthorityErrorKind kind) {
    const auto index = static_cast<size_t>(kind);
    VOK_INVARIANT(index < kKindNames.size(), "authority error kind out of range");
    return kKindNames[index];
}

AuthorityError AuthorityError::make(AuthorityErrorKind kind, std::string message) {
    switch (kind) {
#define VOK_AUTHORITY_ERROR_MAKE(name)                                                             \
    case Kind::name:                                                                               \
        return AuthorityError(AuthorityError::name{std::move(message)});
        VOK_AUTHORITY_ERROR_KINDS(VOK_AUTHORITY_ERROR_MAKE)
#undef VOK_AUTHORITY_ERROR_MAKE
    }
    VOK_INVARIANT(false, "authority error kind out of range");
    return invalid_environment(std::move(message));
}

const std::string& AuthorityError::message() const {
    return visit([](const auto& failure) -> const std::string& { return failure.message; });
}

const std::optional<std::string>& AuthorityError::hint() const {
    static const std::optional<std::string> kNone;
    const auto* failure = get_if<TracePersistenceFailure>();
    return failure != nullptr ? failure->hint : kNone;
}

bool AuthorityError::retryable() const {
    const auto* failure = get_if<TracePersistenceFailure>();
    return failure != nullptr && failure->retryable;
}

AuthorityError AuthorityError::invalid_environment(std::string message) {
    return make(Kind::InvalidAuthorityEnvironment, std::move(message));
}

AuthorityError AuthorityError::invalid_request(std::string message) {
    return make(Kind::InvalidRequest, std::move(message));
}

AuthorityError AuthorityError::invalid_transform(std::string_view name, std::string_view reason) {
    return make(Kind::InvalidTransform,
                "Transform " + quoted(name) + " invalid: " + std::string(reason));
}

AuthorityError AuthorityError::fact_source_id_required() {
    return make(Kind::InvalidFactSourceError, "Fact source id is required");
}

AuthorityError AuthorityError::transform_not_pure(std::string_view transform_id) {
    return invalid_transform(transform_id, "Transform must be pure (no network, filesystem, clock, "
                                           "random, side effects, or global state access)");
}

AuthorityError AuthorityError::pack_unreadable(std::string_view reader_message) {
    return make(Kind::InvalidPolicyPack, "Failed to parse pack: " + std::string(reader_message));
}

AuthorityError AuthorityError::pack_id_required() {
    return make(Kind::InvalidPolicyPack, "Pack id is required");
}

AuthorityError AuthorityError::pack_version_required(std::string_view pack_id) {
    return make(Kind::InvalidPolicyPack, "Pack " + quoted(pack_id) + " version is required");
}

AuthorityError AuthorityError::policy_id_required() {
    return make(Kind::PolicyParseError, "policy_id is required");
}

AuthorityError AuthorityError::override_without_spec(std::string_view policy_id) {
    return make(Kind::PolicyParseError,
                "Override policy " + quoted(policy_id) + " must have override_spec");
}

AuthorityError AuthorityError::pack_semantics_unsupported(std::string_view pack_id,
                                                          std::string_view pack_semantics,
                                                          std::string_view resolver_semantics) {
    return make(Kind::InvalidPolicyPack, "Pack " + quoted(pack_id) + " requires semantics " +
                                             quoted(pack_semantics) + " but " +
                                             quoted(resolver_semantics) + " is supported");
}

AuthorityError AuthorityError::compatibility_lowering_version_required() {
    return invalid_environment("Compatibility lowering version is required");
}

AuthorityError AuthorityError::source_without_allowed_paths(std::string_view source_id) {
    return make(Kind::InvalidFactSourceError,
                "Source " + quoted(source_id) + " must declare allowed_paths");
}

AuthorityError AuthorityError::impure_transform_in_registry(std::string_view transform_id) {
    return invalid_transform(transform_id, "Impure transform found in registry");
}

AuthorityError AuthorityError::compiler_semantics_mismatch(std::string_view compiler,
                                                           std::string_view configured) {
    return invalid_environment("Compiler semantics version " + quoted(compiler) +
                               " does not match resolver semantics version " + quoted(configured));
}

AuthorityError AuthorityError::compiler_compatibility_mismatch(std::string_view compiler,
                                                               std::string_view configured) {
    return invalid_environment("Compiler compatibility version " + quoted(compiler) +
                               " does not match configured compatibility lowering version " +
                               quoted(configured));
}

AuthorityError AuthorityError::auditor_compatibility_mismatch(std::string_view auditor,
                                                              std::string_view configured) {
    return invalid_environment("Compatibility auditor version " + quoted(auditor) +
                               " does not match configured compatibility lowering version " +
                               quoted(configured));
}

AuthorityError AuthorityError::resolver_semantics_mismatch(std::string_view resolver,
                                                           std::string_view configured) {
    return invalid_environment("Resolver semantics version " + quoted(resolver) +
                               " does not match configured semantics version " +
                               quoted(configured));
}

AuthorityError AuthorityError::resolver_compatibility_mismatch(std::string_view resolver,
                                                               std::string_view configured) {
    return invalid_environment("Resolver compatibility version " + quoted(resolver) +
                               " does not match configured compatibility lowering version " +
                               quoted(configured));
}

AuthorityError AuthorityError::incompatible_specificity_profiles(std::string_view pack_id,
                                                                 std::string_view profile_id) {
    return make(Kind::ConflictingSpecificityProfileError,
                "Packs " + quoted(pack_id) + " and " + quoted(profile_id) +
                    " require incompatible specificity profiles");
}

AuthorityError AuthorityError::unknown_permission_allows() {
    return invalid_environment("Unknown permission must not default to Allow");
}

AuthorityError AuthorityError::unknown_prohibition_allows() {
    return invalid_environment("Unknown prohibition must not default to Allow");
}

AuthorityError AuthorityError::environment_not_validated() {
    return invalid_environment("Environment not validated. Call validate() first.");
}

AuthorityError AuthorityError::request_id_required() {
    return invalid_request("request_id is required");
}

AuthorityError AuthorityError::actor_id_required() {
    return invalid_request("actor.id is required");
}

AuthorityError AuthorityError::operation_required() {
    return invalid_request("operation is required");
}

AuthorityError AuthorityError::resource_unidentified() {
    return invalid_request("resource must include at least id or type");
}

AuthorityError AuthorityError::transform_key_malformed(std::string_view key) {
    return invalid_transform(key, "Transform key must be in format id@version");
}

AuthorityError AuthorityError::transform_not_registered(std::string_view key) {
    return invalid_transform(key, "Transform not registered");
}

AuthorityError AuthorityError::incomparable_specificity(std::string_view first_policy_id,
                                                        std::string_view second_policy_id) {
    return make(Kind::SpecificityConflict, "Incomparable specificity between " +
                                               quoted(first_policy_id) + " and " +
                                               quoted(second_policy_id));
}

AuthorityError AuthorityError::trace_persistence_failed() {
    return AuthorityError(TracePersistenceFailure{"Trace persistence failed: Cannot confirm "
                                                  "high-impact decision without trace persistence",
                                                  "Check evidence sink availability and retry",
                                                  true});
}

std::string AuthorityError::to_string() const {
    std::string text = "[";
    text += kind_name(kind());
    text += "] ";
    text += message();
    return text;
}

} // namespace vok::authority
