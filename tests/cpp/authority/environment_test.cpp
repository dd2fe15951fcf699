// Building and validating an authority environment: registries, pack reading, the order of the
// build and validate checks, their kinds and messages, and the evidence store.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "authority/environment.h"
#include "environment_fixtures.h"

namespace vok::authority {
namespace {

using testing::base_config;
using testing::make_transform;
using testing::parse_value;
using testing::source;
using Kind = AuthorityErrorKind;

const std::string kPolicy =
    R"({"policy_id":"p","modality":"Permission","priority":1,"applies_to":{},)"
    R"("semantics_version":"s1"})";

std::string pack_text(const std::string& id = "pk", const std::string& version = "1",
                      const std::string& semantics = "s1",
                      const std::string& policies = "[" + kPolicy + "]") {
    return R"({"id":")" + id + R"(","version":")" + version + R"(","semantics_version":")" +
           semantics + R"(","required_specificity_profile":"p1","policies":)" + policies +
           R"(,"hash":"pack-hash","owner":"team","extra":[1]})";
}

AuthorityError build_error(AuthorityEnvironmentConfig config) {
    auto env = build_environment(std::move(config));
    EXPECT_FALSE(env.ok());
    return env.ok() ? AuthorityError::invalid_environment("") : env.error();
}

AuthorityError validate_error(AuthorityEnvironmentConfig config) {
    auto env = build_environment(std::move(config));
    EXPECT_TRUE(env.ok()) << env.error().to_string();
    if (!env.ok()) return AuthorityError::invalid_environment("");
    auto done = validate(*env);
    EXPECT_FALSE(done.ok());
    EXPECT_FALSE(env->validated()); // a failed validate leaves the environment as it was
    return done.ok() ? AuthorityError::invalid_environment("") : done.error();
}

TEST(BuildEnvironment, EmptyListsBuildAndValidateTwice) {
    auto env = build_environment(base_config());
    ASSERT_TRUE(env.ok()) << env.error().to_string();
    EXPECT_FALSE(env->validated());
    EXPECT_EQ(env->evidence_store().size(), 0u);
    ASSERT_TRUE(validate(*env).ok());
    EXPECT_TRUE(env->validated());
    ASSERT_TRUE(validate(*env).ok());
    EXPECT_TRUE(env->validated());
}

TEST(BuildEnvironment, ARepeatedSourceIdReplacesInPlace) {
    auto config = base_config();
    config.fact_sources = {source("a", SourceClass::Attested, {"x"}),
                           source("b", SourceClass::Attested, {"y"}),
                           source("a", SourceClass::SystemOfRecord, {"z"})};
    auto env = build_environment(std::move(config));
    ASSERT_TRUE(env.ok());
    ASSERT_EQ(env->sources().size(), 2u);
    auto first = env->sources().begin();
    EXPECT_EQ(first->first, "a");
    EXPECT_EQ(first->second.source_class, SourceClass::SystemOfRecord);
    EXPECT_EQ(first->second.allowed_paths, std::vector<std::string>{"z"});
    EXPECT_EQ(std::next(first)->first, "b");
}

TEST(BuildEnvironment, TransformsAreKeyedByIdAndVersion) {
    auto config = base_config();
    auto replaced = make_transform("fx", "1", {"a"}, "b");
    replaced.hash = "second";
    config.fact_transforms = {make_transform("fx", "1", {"a"}, "b"),
                              make_transform("fx", "2", {"a"}, "c"), replaced};
    auto env = build_environment(std::move(config));
    ASSERT_TRUE(env.ok());
    ASSERT_EQ(env->transforms().size(), 2u);
    EXPECT_EQ(env->transforms().begin()->first, "fx@1");
    EXPECT_EQ(env->transforms().find("fx@1")->hash, "second");
    EXPECT_NE(env->transforms().find("fx@2"), nullptr);
}

TEST(BuildEnvironment, RefusesAnEmptySourceIdButNotABlankOne) {
    auto config = base_config();
    config.fact_sources = {source(" ", SourceClass::Attested, {"x"}),
                           source("", SourceClass::Attested, {"x"})};
    AuthorityError e = build_error(std::move(config));
    EXPECT_EQ(e.to_string(), "[InvalidFactSourceError] Fact source id is required");
}

TEST(BuildEnvironment, RefusesEveryImpureFlagNamingTheTransformId) {
    bool PurityFlags::*flags[] = {&PurityFlags::network_access, &PurityFlags::filesystem_access,
                                  &PurityFlags::clock_access,   &PurityFlags::random_access,
                                  &PurityFlags::side_effects,   &PurityFlags::global_state_access};
    for (bool PurityFlags::*flag : flags) {
        auto config = base_config();
        config.fact_transforms = {make_transform("fx", "7", {}, "out")};
        config.fact_transforms[0].purity.*flag = true;
        AuthorityError e = build_error(std::move(config));
        EXPECT_EQ(e.kind(), Kind::InvalidTransform);
        EXPECT_EQ(e.message(), "Transform 'fx' invalid: Transform must be pure (no network, "
                               "filesystem, clock, random, side effects, or global state access)");
    }
}

TEST(BuildEnvironment, ReadsPacksByKeyAndAsElevenValues) {
    auto config = base_config();
    config.authority_packs = {
        parse_value(pack_text()),
        parse_value(R"(["pk2","2","s1","other",[],"h2",null,null,"2024","ann",null])")};
    auto env = build_environment(std::move(config));
    ASSERT_TRUE(env.ok()) << env.error().to_string();
    ASSERT_EQ(env->packs().size(), 2u);
    const AuthorityPack& first = env->packs()[0];
    EXPECT_EQ(first.id, "pk");
    EXPECT_EQ(first.hash, "pack-hash");
    EXPECT_EQ(first.owner, "team");
    EXPECT_FALSE(first.signature);
    ASSERT_EQ(first.policies.size(), 1u);
    EXPECT_EQ(first.policies[0].policy_id, "p");
    const AuthorityPack& second = env->packs()[1];
    EXPECT_EQ(second.required_specificity_profile, "other");
    EXPECT_EQ(second.created_at, "2024");
    EXPECT_EQ(second.approved_by, "ann");
    EXPECT_TRUE(second.policies.empty());
}

TEST(BuildEnvironment, UnreadablePacks) {
    struct Case {
        std::string pack, message;
    } cases[] = {
        {R"("pk")", "Failed to parse pack: invalid type: string \"pk\", expected struct "
                    "AuthorityPack"},
        {"5", "Failed to parse pack: invalid type: integer `5`, expected struct AuthorityPack"},
        {"null", "Failed to parse pack: invalid type: null, expected struct AuthorityPack"},
        {R"(["pk","1","s1","p1",[],"h",null,null,null,null])",
         "Failed to parse pack: invalid length 10, expected struct AuthorityPack with 11 elements"},
        {R"(["pk","1","s1","p1",[],"h",null,null,null,null,null,null])",
         "Failed to parse pack: invalid length 12, expected fewer elements in array"},
        {R"({"id":"pk","version":"1","semantics_version":"s1","policies":[],"hash":"h"})",
         "Failed to parse pack: missing field `required_specificity_profile`"},
        {pack_text("pk", "1", "s1", R"([{"policy_id":"p"}])"),
         "Failed to parse pack: missing field `modality`"},
    };
    for (const Case& c : cases) {
        auto config = base_config();
        config.authority_packs = {parse_value(c.pack)};
        AuthorityError e = build_error(std::move(config));
        EXPECT_EQ(e.kind(), Kind::InvalidPolicyPack) << c.pack;
        EXPECT_EQ(e.message(), c.message) << c.pack;
    }
}

TEST(BuildEnvironment, PackChecksInOrder) {
    const std::string override_policy =
        R"({"policy_id":"ov","modality":"Override","priority":1,"applies_to":{},)"
        R"("semantics_version":"s1"})";
    const std::string unnamed_policy =
        R"({"policy_id":"","modality":"Permission","priority":1,"applies_to":{},)"
        R"("semantics_version":"s1"})";
    struct Case {
        std::string pack, text;
    } cases[] = {
        {pack_text(""), "[InvalidPolicyPack] Pack id is required"},
        // The version is checked before the policies and the semantics.
        {pack_text("pk", "", "s9", "[" + unnamed_policy + "]"),
         "[InvalidPolicyPack] Pack 'pk' version is required"},
        // Policies in order, each checked fully before the next.
        {pack_text("pk", "1", "s9", "[" + override_policy + "," + unnamed_policy + "]"),
         "[PolicyParseError] Override policy 'ov' must have override_spec"},
        {pack_text("pk", "1", "s9", "[" + unnamed_policy + "," + override_policy + "]"),
         "[PolicyParseError] policy_id is required"},
        {pack_text("pk", "1", "s9"),
         "[InvalidPolicyPack] Pack 'pk' requires semantics 's9' but 's1' is supported"},
    };
    for (const Case& c : cases) {
        auto config = base_config();
        config.authority_packs = {parse_value(c.pack)};
        // A blank lowering version is checked after the packs.
        config.compatibility_lowering_version = "   ";
        EXPECT_EQ(build_error(std::move(config)).to_string(), c.text) << c.pack;
    }
}

TEST(BuildEnvironment, AnOverrideWithItsSpecBuilds) {
    auto config = base_config();
    config.authority_packs = {parse_value(
        pack_text("pk", "1", "s1",
                  R"([{"policy_id":"ov","modality":"Override","priority":1,"applies_to":{},)"
                  R"("semantics_version":"s1","override_spec":{"permits":"p"}}])"))};
    EXPECT_TRUE(build_environment(std::move(config)).ok());
}

TEST(BuildEnvironment, BlankLoweringVersions) {
    const char* blank[] = {"", "   ", "\t\r\n", "\xE3\x80\x80", "\xC2\xA0 \xE2\x80\xA9"};
    for (const char* version : blank) {
        auto config = base_config();
        config.compatibility_lowering_version = version;
        EXPECT_EQ(build_error(std::move(config)).to_string(),
                  "[InvalidAuthorityEnvironment] Compatibility lowering version is required");
    }
    const char* kept[] = {" v ", "\xE2\x80\x8B", "\xC2\xA0x"}; // zero width space is not blank
    for (const char* version : kept) {
        auto config = base_config();
        config.compatibility_lowering_version = version;
        auto env = build_environment(std::move(config));
        ASSERT_TRUE(env.ok()) << version;
        EXPECT_EQ(env->trace_versions().compatibility_lowering_version, version);
    }
}

TEST(ValidateEnvironment, ASourceWithoutAllowedPaths) {
    auto config = base_config();
    config.fact_sources = {source("ok", SourceClass::Attested, {"x"}),
                           source("crm", SourceClass::Attested, {})};
    EXPECT_EQ(validate_error(std::move(config)).to_string(),
              "[InvalidFactSourceError] Source 'crm' must declare allowed_paths");
}

TEST(ValidateEnvironment, StrictModeRequiresTheConfiguredProfile) {
    auto config = base_config();
    config.authority_packs = {
        parse_value(R"(["a","1","s1","p1",[],"h",null,null,null,null,null])"),
        parse_value(R"(["b","1","s1","other",[],"h",null,null,null,null,null])"),
        parse_value(R"(["c","1","s1","third",[],"h",null,null,null,null,null])")};
    auto lenient = build_environment(config);
    ASSERT_TRUE(lenient.ok());
    EXPECT_TRUE(validate(*lenient).ok());

    config.strict_mode = true;
    AuthorityError e = validate_error(std::move(config));
    EXPECT_EQ(e.kind(), Kind::ConflictingSpecificityProfileError);
    EXPECT_EQ(e.message(), "Packs 'b' and 'p1' require incompatible specificity profiles");
}

TEST(ValidateEnvironment, UnknownDefaultsOfAllow) {
    auto config = base_config();
    config.unknown_handling.obligation.default_ = FinalDecision::Allow;
    config.unknown_handling.override_.default_ = FinalDecision::Allow;
    auto env = build_environment(config);
    ASSERT_TRUE(env.ok());
    EXPECT_TRUE(validate(*env).ok());

    config.unknown_handling.prohibition.default_ = FinalDecision::Allow;
    EXPECT_EQ(validate_error(config).to_string(),
              "[InvalidAuthorityEnvironment] Unknown prohibition must not default to Allow");
    config.unknown_handling.permission.default_ = FinalDecision::Allow;
    EXPECT_EQ(validate_error(config).to_string(),
              "[InvalidAuthorityEnvironment] Unknown permission must not default to Allow");
}

TEST(EvidenceStore, AppendsUntilPoisoned) {
    auto env = build_environment(base_config());
    ASSERT_TRUE(env.ok());
    EvidenceStore& store = env->evidence_store();
    auto trace = std::make_shared<DecisionTrace>();
    trace->request_id = "r1";
    EXPECT_EQ(store.append(trace), EvidenceStore::Append::Stored);
    EXPECT_FALSE(store.poisoned());
    store.poison();
    EXPECT_EQ(store.append(trace), EvidenceStore::Append::Poisoned);
    EXPECT_TRUE(store.poisoned());
    ASSERT_EQ(store.traces().size(), 1u);
    EXPECT_EQ(store.traces()[0]->request_id, "r1");
    // A copy of the environment shares its store.
    AuthorityEnvironment copy = *env;
    EXPECT_EQ(&copy.evidence_store(), &store);
}

} // namespace
} // namespace vok::authority
