// AuthorityError: every failure of the authority engine (building or validating an environment,
// evaluating a request, persisting a trace) as one value: one alternative per kind from a fixed
// list of 23, each with its message; the trace-persistence failure alone also carries an operator
// hint and a retry flag.
//
// No operation of the engine throws; each returns its result or an AuthorityError. The text form
// is "[" + kind name + "] " + message (hint and flag are not part of it). The named constructors
// below are the only place the engine's messages are worded, so the operations that raise them
// and the tests that expect them read identical text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "common/error_variant.h"

namespace vok::authority {

// The kinds in value order; the text form of a kind is its name exactly as written.
#define VOK_AUTHORITY_ERROR_KINDS(X)                                                               \
    X(InvalidAuthorityEnvironment)                                                                 \
    X(InvalidPolicyPack)                                                                           \
    X(FactTrustViolation)                                                                          \
    X(SourceUnavailable)                                                                           \
    X(InvalidTransform)                                                                            \
    X(SpecificityConflict)                                                                         \
    X(AmbiguousCompatibilityLowering)                                                              \
    X(TracePersistenceFailure)                                                                     \
    X(MissingConfigError)                                                                          \
    X(ParseError)                                                                                  \
    X(SchemaError)                                                                                 \
    X(UnsupportedKindError)                                                                        \
    X(MissingCredentialError)                                                                      \
    X(PolicyParseError)                                                                            \
    X(PolicyEvaluationError)                                                                       \
    X(InvalidReloadError)                                                                          \
    X(ConflictingSpecificityProfileError)                                                          \
    X(InvalidFactSourceError)                                                                      \
    X(InvalidTransformError)                                                                       \
    X(ResolverSemanticsHashMismatch)                                                               \
    X(PackHashMismatch)                                                                            \
    X(InvalidRequest)                                                                              \
    X(ConflictResolutionError)

enum class AuthorityErrorKind : uint8_t {
#define VOK_AUTHORITY_ERROR_KIND_ENUMERATOR(name) name,
    VOK_AUTHORITY_ERROR_KINDS(VOK_AUTHORITY_ERROR_KIND_ENUMERATOR)
#undef VOK_AUTHORITY_ERROR_KIND_ENUMERATOR
};

inline constexpr size_t kAuthorityErrorKindCount = 23;
#define VOK_AUTHORITY_ERROR_KIND_ONE(name) +1
static_assert(0 VOK_AUTHORITY_ERROR_KINDS(VOK_AUTHORITY_ERROR_KIND_ONE) ==
              kAuthorityErrorKindCount);
#undef VOK_AUTHORITY_ERROR_KIND_ONE

std::string_view kind_name(AuthorityErrorKind kind);

// The alternative of one kind: its message.
template <AuthorityErrorKind K> struct AuthorityFailure { std::string message; };
// This failure alone tells the operator what to do.
template <> struct AuthorityFailure<AuthorityErrorKind::TracePersistenceFailure> {
    std::string message;
    std::optional<std::string> hint = std::nullopt;
    bool retryable = false;
};

template <class Indices> struct AuthorityFailureVariant;
template <size_t... I> struct AuthorityFailureVariant<std::index_sequence<I...>> {
    using type = std::variant<AuthorityFailure<static_cast<AuthorityErrorKind>(I)>...>;
};

struct AuthorityErrorAlternatives {
    using Kind = AuthorityErrorKind;
#define VOK_AUTHORITY_ERROR_ALTERNATIVE(name) using name = AuthorityFailure<Kind::name>;
    VOK_AUTHORITY_ERROR_KINDS(VOK_AUTHORITY_ERROR_ALTERNATIVE)
#undef VOK_AUTHORITY_ERROR_ALTERNATIVE
    using Variant =
        AuthorityFailureVariant<std::make_index_sequence<kAuthorityErrorKindCount>>::type;
};

struct AuthorityError : ErrorVariant<AuthorityErrorAlternatives> {
    using ErrorVariant::ErrorVariant;

    const std::string& message() const;
    // Only the trace-persistence failure has an operator hint or may be retried.
    const std::optional<std::string>& hint() const;
    bool retryable() const;

    // The general constructor and the three shorthands; each leaves the hint absent and the
    // error not retryable.
    static AuthorityError make(AuthorityErrorKind kind, std::string message);
    static AuthorityError invalid_environment(std::string message);
    static AuthorityError invalid_request(std::string message);
    // "Transform '" + name + "' invalid: " + reason, kind InvalidTransform.
    static AuthorityError invalid_transform(std::string_view name, std::string_view reason);

    // ---- building an environment ----
    static AuthorityError fact_source_id_required();
    static AuthorityError transform_not_pure(std::string_view transform_id);
    static AuthorityError pack_unreadable(std::string_view reader_message);
    static AuthorityError pack_id_required();
    static AuthorityError pack_version_required(std::string_view pack_id);
    static AuthorityError policy_id_required();
    static AuthorityError override_without_spec(std::string_view policy_id);
    static AuthorityError pack_semantics_unsupported(std::string_view pack_id,
                                                     std::string_view pack_semantics,
                                                     std::string_view resolver_semantics);
    static AuthorityError compatibility_lowering_version_required();

    // ---- validating an environment ----
    static AuthorityError source_without_allowed_paths(std::string_view source_id);
    static AuthorityError impure_transform_in_registry(std::string_view transform_id);
    static AuthorityError compiler_semantics_mismatch(std::string_view compiler,
                                                      std::string_view configured);
    static AuthorityError compiler_compatibility_mismatch(std::string_view compiler,
                                                          std::string_view configured);
    static AuthorityError auditor_compatibility_mismatch(std::string_view auditor,
                                                         std::string_view configured);
    static AuthorityError resolver_semantics_mismatch(std::string_view resolver,
                                                      std::string_view configured);
    static AuthorityError resolver_compatibility_mismatch(std::string_view resolver,
                                                          std::string_view configured);
    static AuthorityError incompatible_specificity_profiles(std::string_view pack_id,
                                                            std::string_view profile_id);
    static AuthorityError unknown_permission_allows();
    static AuthorityError unknown_prohibition_allows();

    // ---- evaluating a request ----
    static AuthorityError environment_not_validated();
    static AuthorityError request_id_required();
    static AuthorityError actor_id_required();
    static AuthorityError operation_required();
    static AuthorityError resource_unidentified();
    static AuthorityError transform_key_malformed(std::string_view key);
    static AuthorityError transform_not_registered(std::string_view key);
    static AuthorityError incomparable_specificity(std::string_view first_policy_id,
                                                   std::string_view second_policy_id);
    // With the operator hint and marked retryable.
    static AuthorityError trace_persistence_failed();

    // "[" + kind name + "] " + message.
    std::string to_string() const;
};

} // namespace vok::authority
