// AuthorityEnvironment: what every evaluation runs against. It is built from a configuration
// (`build_environment`), checked as a whole (`validate`), and then only read, apart from its
// evidence store, which grows by one trace per decision.
//
// Build checks the fact sources, transforms and policy packs one by one, registers sources under
// their id and transforms under id + "@" + version, reads each pack from its raw JSON value, and
// copies the versions that the environment's parts were built for. Validate runs the checks that
// concern the environment as a whole and sets `validated`; evaluation refuses an environment
// without it. Neither touches files, clocks or the network.
//
// The registries keep the position of a key's first insertion: a later record under the same key
// replaces the earlier one in place. They are hash-indexed, so evaluations look sources and
// transforms up in constant time whatever their number.
//
// Ownership: the environment owns copies of everything it was built from; the evidence store is
// shared by reference count and has its own lock. Validation needs exclusive access; evaluations
// read the environment and lock only the evidence store, to append.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "authority/authority_error.h"
#include "authority/authority_pack.h"
#include "authority/environment_config.h"
#include "authority/evidence_store.h"
#include "authority/fact_source.h"
#include "authority/fact_transform.h"
#include "common/indexed_map.h"

namespace vok::authority {

// The versions the policy compiler was set up for.
struct CompilerVersions {
    std::string semantics_version;
    std::string compatibility_version;
};

// What conflict resolution works with.
struct ResolverSettings {
    SpecificityProfile specificity_profile;
    std::string semantics_version;
    std::string compatibility_version;
};

// The versions written into every decision trace.
struct TraceVersions {
    std::string resolver_version;
    std::string resolver_semantics_version;
    std::string compatibility_lowering_version;
};

class AuthorityEnvironment {
public:
    using SourceRegistry = IndexedMap<std::string, FactSource>;
    using TransformRegistry = IndexedMap<std::string, FactTransform>;

    // The configuration as given, raw pack values included.
    const AuthorityEnvironmentConfig& config() const { return config_; }
    // Source id to source, in order of first registration.
    const SourceRegistry& sources() const { return sources_; }
    // id + "@" + version to transform, in order of first registration.
    const TransformRegistry& transforms() const { return transforms_; }
    // In the order of the configuration's `authority_packs`.
    const std::vector<AuthorityPack>& packs() const { return packs_; }
    const ResolverSettings& resolver() const { return resolver_; }
    const TraceVersions& trace_versions() const { return trace_versions_; }
    const UnknownHandlingConfig& unknown_handling() const { return config_.unknown_handling; }
    // Hashes every trace of this environment carries, computed once when it is built.
    const std::string& resolver_semantics_hash() const { return resolver_semantics_hash_; }
    const std::string& unknown_handling_config_hash() const { return unknown_handling_hash_; }
    bool strict_mode() const { return config_.strict_mode; }
    bool validated() const { return validated_; }

    // The store is shared and guarded by its own lock, so appending needs no write access to the
    // environment.
    EvidenceStore& evidence_store() const { return *evidence_store_; }

private:
    AuthorityEnvironment() = default;
    friend Result<AuthorityEnvironment, AuthorityError>
    build_environment(AuthorityEnvironmentConfig config);
    friend Result<void, AuthorityError> validate(AuthorityEnvironment& environment);

    AuthorityEnvironmentConfig config_;
    SourceRegistry sources_;
    TransformRegistry transforms_;
    std::vector<AuthorityPack> packs_;
    CompilerVersions compiler_;
    std::string auditor_version_;
    ResolverSettings resolver_;
    TraceVersions trace_versions_;
    std::string resolver_semantics_hash_;
    std::string unknown_handling_hash_;
    std::shared_ptr<EvidenceStore> evidence_store_;
    bool validated_ = false;
};

// Builds an unvalidated environment with an empty evidence store, or returns the first failure:
// sources, then transforms, then packs (each in list order), then the compatibility lowering
// version, which must not be blank (Unicode White_Space alone is blank).
Result<AuthorityEnvironment, AuthorityError> build_environment(AuthorityEnvironmentConfig config);

// Runs the environment-wide checks and marks the environment validated; on failure returns the
// first problem and leaves the environment as it was. May be called again.
Result<void, AuthorityError> validate(AuthorityEnvironment& environment);

} // namespace vok::authority
