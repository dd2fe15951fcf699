// Deriving facts with the configuration's transforms; see transform.h.
#include "authority/transform.h"

#include <cmath>
#include <string>
#include <utility>

#include "common/cancellation.h"

namespace vok::authority {

namespace {

// The smallest of the confidences given; a NaN gives way to any other value.
void take_smaller_confidence(std::optional<double>& smallest, double confidence) {
    if (!smallest || std::isnan(*smallest) || confidence < *smallest) smallest = confidence;
}

} // namespace

std::optional<DerivedFact> derive_fact(const FactTransform& transform, const FactStore& store,
                                       Clock& clock) {
    std::vector<const StoredFact*> inputs;
    inputs.reserve(transform.inputs.size());
    for (const TransformInput& input : transform.inputs) {
        poll_cancellation();
        const StoredFact* found = store.first(input.fact_path);
        if (!found) return std::nullopt;
        inputs.push_back(found);
    }

    DerivedFactLineage lineage;
    lineage.transform_id = transform.id;
    lineage.transform_version = transform.version;
    lineage.transform_hash = transform.hash;
    lineage.effective_trust = SourceClass::UnknownSource;
    lineage.trust_upgrade_applied = false;

    FactEnvelope fact;
    fact.path = transform.output.fact_path;
    fact.source_class = SourceClass::Derived;
    fact.source_id = transform.id + "@" + transform.version;
    json::Array values;
    for (size_t i = 0; i < inputs.size(); ++i) {
        poll_cancellation();
        const StoredFact& input = *inputs[i];
        const SourceClass input_trust = trust_class(input);
        lineage.input_fact_paths.push_back(input.fact.path);
        lineage.input_source_classes.push_back(input_trust);
        // With no inputs the effective trust stays unknown_source, the weakest class.
        lineage.effective_trust =
            i == 0 ? input_trust : weaker_trust(lineage.effective_trust, input_trust);
        if (input.fact.expires_at &&
            (!fact.expires_at || *input.fact.expires_at < *fact.expires_at))
            fact.expires_at = input.fact.expires_at;
        if (input.fact.confidence) take_smaller_confidence(fact.confidence, *input.fact.confidence);
        if (inputs.size() != 1) values.push_back(input.fact.value);
    }
    fact.value = inputs.size() == 1 ? inputs[0]->fact.value : json::Value(std::move(values));
    fact.observed_at = clock.now();
    fact.lineage = lineage;
    return DerivedFact{std::move(fact), std::move(lineage)};
}

Result<std::vector<DerivedFactLineage>, AuthorityError>
derive_facts(const AuthorityEnvironment& environment, FactStore& store, Clock& clock) {
    std::vector<FactEnvelope> pending;
    std::vector<DerivedFactLineage> lineages;
    for (const FactTransform& entry : environment.config().fact_transforms) {
        poll_cancellation();
        const std::string key = entry.id + "@" + entry.version;
        // Exactly two parts around "@": an id or version that holds "@" itself has no key.
        const size_t at = key.find('@');
        if (key.find('@', at + 1) != std::string::npos)
            return Err(AuthorityError::transform_key_malformed(key));
        const FactTransform* transform = environment.transforms().find(key);
        if (!transform) return Err(AuthorityError::transform_not_registered(key));
        std::optional<DerivedFact> derived = derive_fact(*transform, store, clock);
        if (!derived) continue;
        pending.push_back(std::move(derived->fact));
        lineages.push_back(std::move(derived->lineage));
    }
    for (FactEnvelope& fact : pending) {
        poll_cancellation();
        store.append(std::move(fact), FactOrigin::Derived);
    }
    return lineages;
}

} // namespace vok::authority
