// The authority error kinds, their names and the text form.
#include <gtest/gtest.h>

#include "authority/authority_error.h"

namespace vok::authority {
namespace {

TEST(AuthorityError, KindNamesInValueOrder) {
    const char* expected[] = {"InvalidAuthorityEnvironment",
                              "InvalidPolicyPack",
                              "FactTrustViolation",
                              "SourceUnavailable",
                              "InvalidTransform",
                              "SpecificityConflict",
                              "AmbiguousCompatibilityLowering",
                              "TracePersistenceFailure",
                              "MissingConfigError",
                              "ParseError",
                              "SchemaError",
                              "UnsupportedKindError",
                              "MissingCredentialError",
                              "PolicyParseError",
                              "PolicyEvaluationError",
                              "InvalidReloadError",
                              "ConflictingSpecificityProfileError",
                              "InvalidFactSourceError",
                              "InvalidTransformError",
                              "ResolverSemanticsHashMismatch",
                              "PackHashMismatch",
                              "InvalidRequest",
                              "ConflictResolutionError"};
    ASSERT_EQ(std::size(expected), kAuthorityErrorKindCount);
    for (size_t i = 0; i < kAuthorityErrorKindCount; ++i) {
        auto kind = static_cast<AuthorityErrorKind>(i);
        EXPECT_EQ(kind_name(kind), expected[i]);
        EXPECT_EQ(AuthorityError::make(kind, "m").to_string(),
                  "[" + std::string(expected[i]) + "] m");
    }
}

TEST(AuthorityError, TextForm) {
    EXPECT_EQ(AuthorityError::invalid_request("").to_string(), "[InvalidRequest] ");
    EXPECT_EQ(AuthorityError::make(static_cast<AuthorityErrorKind>(16), "x").to_string(),
              "[ConflictingSpecificityProfileError] x");
    EXPECT_EQ(AuthorityError::pack_id_required().to_string(),
              "[InvalidPolicyPack] Pack id is required");
    AuthorityError fx = AuthorityError::invalid_transform("fx", "Transform not registered");
    EXPECT_EQ(fx.kind(), AuthorityErrorKind::InvalidTransform);
    EXPECT_EQ(fx.message(), "Transform 'fx' invalid: Transform not registered");
    EXPECT_FALSE(fx.hint());
    EXPECT_FALSE(fx.retryable());
}

TEST(AuthorityError, OnlyTracePersistenceFailureHasAHint) {
    AuthorityError e = AuthorityError::trace_persistence_failed();
    EXPECT_EQ(e.kind(), AuthorityErrorKind::TracePersistenceFailure);
    EXPECT_EQ(e.message(), "Trace persistence failed: Cannot confirm high-impact decision without "
                           "trace persistence");
    EXPECT_EQ(e.hint(), "Check evidence sink availability and retry");
    EXPECT_TRUE(e.retryable());
    // The text form shows neither hint nor flag.
    EXPECT_EQ(e.to_string(), "[TracePersistenceFailure] " + e.message());
}

TEST(AuthorityError, MessagesBuiltFromPieces) {
    struct Case {
        AuthorityError error;
        AuthorityErrorKind kind;
        std::string message;
    };
    using K = AuthorityErrorKind;
    const Case cases[] = {
        {AuthorityError::transform_not_pure("t"), K::InvalidTransform,
         "Transform 't' invalid: Transform must be pure (no network, filesystem, clock, random, "
         "side effects, or global state access)"},
        {AuthorityError::pack_unreadable("missing field `id`"), K::InvalidPolicyPack,
         "Failed to parse pack: missing field `id`"},
        {AuthorityError::pack_version_required("pk"), K::InvalidPolicyPack,
         "Pack 'pk' version is required"},
        {AuthorityError::override_without_spec("p"), K::PolicyParseError,
         "Override policy 'p' must have override_spec"},
        {AuthorityError::pack_semantics_unsupported("pk", "s2", "s1"), K::InvalidPolicyPack,
         "Pack 'pk' requires semantics 's2' but 's1' is supported"},
        {AuthorityError::source_without_allowed_paths("crm"), K::InvalidFactSourceError,
         "Source 'crm' must declare allowed_paths"},
        {AuthorityError::compiler_semantics_mismatch("a", "b"), K::InvalidAuthorityEnvironment,
         "Compiler semantics version 'a' does not match resolver semantics version 'b'"},
        {AuthorityError::auditor_compatibility_mismatch("a", "b"), K::InvalidAuthorityEnvironment,
         "Compatibility auditor version 'a' does not match configured compatibility lowering "
         "version 'b'"},
        {AuthorityError::resolver_semantics_mismatch("a", "b"), K::InvalidAuthorityEnvironment,
         "Resolver semantics version 'a' does not match configured semantics version 'b'"},
        {AuthorityError::incompatible_specificity_profiles("pk", "p1"),
         K::ConflictingSpecificityProfileError,
         "Packs 'pk' and 'p1' require incompatible specificity profiles"},
        {AuthorityError::environment_not_validated(), K::InvalidAuthorityEnvironment,
         "Environment not validated. Call validate() first."},
        {AuthorityError::resource_unidentified(), K::InvalidRequest,
         "resource must include at least id or type"},
        {AuthorityError::transform_key_malformed("a@b@1"), K::InvalidTransform,
         "Transform 'a@b@1' invalid: Transform key must be in format id@version"},
        {AuthorityError::incomparable_specificity("p1", "?"), K::SpecificityConflict,
         "Incomparable specificity between 'p1' and '?'"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.error.kind(), c.kind) << c.message;
        EXPECT_EQ(c.error.message(), c.message);
    }
}

} // namespace
} // namespace vok::authority
