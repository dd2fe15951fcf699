// The fact-resolving stages of an evaluation; see fact_resolver.h. Derived facts come from the
// environment's transforms (transform.h). They fill the evaluation's own store and poll for
// cancellation per fact.
#include "authority/fact_resolver.h"

#include <string>
#include <utility>

#include "authority/transform.h"
#include "common/cancellation.h"

namespace vok::authority {

Result<void, AuthorityError> check_request(const AuthorityRequest& request) {
    if (request.request_id.empty()) return Err(AuthorityError::request_id_required());
    if (request.actor.id.empty()) return Err(AuthorityError::actor_id_required());
    if (request.operation.empty()) return Err(AuthorityError::operation_required());
    if (!request.resource.id && !request.resource.type)
        return Err(AuthorityError::resource_unidentified());
    return Ok();
}

void flatten_context_facts(const json::Object& map, std::optional<std::string_view> prefix,
                           UtcInstant now, std::vector<FactEnvelope>& out) {
    // An explicit stack of the objects being walked, so that a context nested arbitrarily deep
    // cannot exhaust the call stack. The paths of all levels share one buffer, each level knowing
    // the length of its own path, so a deep chain costs memory in proportion to its depth.
    struct Level {
        const json::Object* object;
        size_t next;
        size_t path_length;
        bool has_path;
    };
    std::string path(prefix.value_or(std::string_view()));
    std::vector<Level> stack;
    stack.push_back({&map, 0, path.size(), prefix.has_value()});
    while (!stack.empty()) {
        poll_cancellation();
        Level& level = stack.back();
        if (level.next == level.object->size()) {
            stack.pop_back();
            continue;
        }
        const auto& [key, value] = level.object->entries()[level.next++];
        path.resize(level.path_length);
        if (level.has_path) path += '.';
        path += key;
        if (value.is_object()) {
            // `level` is not used after this push, which may move it.
            stack.push_back({&value.as_object(), 0, path.size(), true});
            continue;
        }
        FactEnvelope fact;
        fact.path = path;
        fact.value = value;
        fact.source_class = SourceClass::CallerSupplied;
        fact.source_id = "caller";
        fact.observed_at = now;
        out.push_back(std::move(fact));
    }
}

bool path_allowed(std::string_view allowed, std::string_view path) {
    if (path == allowed) return true;
    if (allowed.ends_with('.')) return path.starts_with(allowed);
    return path.size() > allowed.size() && path.starts_with(allowed) && path[allowed.size()] == '.';
}

namespace {

FactTrustDecision decision(const FactEnvelope& envelope, std::vector<SourceClass> required,
                           std::string_view reason) {
    FactTrustDecision d;
    d.fact_path = envelope.path;
    d.required_sources = std::move(required);
    d.observed_source = envelope.source_class;
    d.trusted = reason == "trusted";
    d.reason = std::string(reason);
    d.evidence_ref = envelope.evidence_ref;
    return d;
}

std::string_view untrusted_reason(const FactSource& source, const FactEnvelope& envelope,
                                  UtcInstant now) {
    if (envelope.source_class != source.source_class) return "source_class_mismatch";
    bool allowed = false;
    for (const std::string& entry : source.allowed_paths) {
        if (path_allowed(entry, envelope.path)) {
            allowed = true;
            break;
        }
    }
    if (!allowed) return "path_not_allowed";
    if (source.evidence_required && !envelope.evidence_ref) return "missing_evidence_ref";
    if (source.signature_required && !envelope.signature) return "missing_signature";
    // An envelope expiring exactly now is already stale.
    if (envelope.expires_at && !(now < *envelope.expires_at)) return "stale_fact";
    return "trusted";
}

} // namespace

FactTrustDecision trust_envelope(const AuthorityEnvironment& environment,
                                 const FactEnvelope& envelope, UtcInstant now) {
    const FactSource* source = environment.sources().find(envelope.source_id);
    if (!source) return decision(envelope, {}, "unregistered_source");
    return decision(envelope, {source->source_class}, untrusted_reason(*source, envelope, now));
}

Result<ResolvedFacts, AuthorityError> resolve_facts(const AuthorityEnvironment& environment,
                                                    const AuthorityRequest& request,
                                                    std::vector<FactEnvelope> facts, Clock& clock) {
    if (!environment.validated()) return Err(AuthorityError::environment_not_validated());
    VOK_TRY(check_request(request));

    ResolvedFacts resolved;
    resolved.evaluated_at = clock.now();
    if (request.context.is_object()) {
        std::vector<FactEnvelope> caller_facts;
        flatten_context_facts(request.context.as_object(), std::nullopt, resolved.evaluated_at,
                              caller_facts);
        for (FactEnvelope& fact : caller_facts) {
            poll_cancellation();
            resolved.store.append(std::move(fact), FactOrigin::Caller);
        }
    }

    resolved.trust_decisions.reserve(facts.size());
    for (FactEnvelope& envelope : facts) {
        poll_cancellation();
        FactTrustDecision trust = trust_envelope(environment, envelope, resolved.evaluated_at);
        const bool trusted = trust.trusted;
        resolved.trust_decisions.push_back(std::move(trust));
        if (trusted)
            resolved.store.replace_first_or_append(std::move(envelope), FactOrigin::Trusted);
    }

    VOK_ASSIGN(resolved.derived_lineage, derive_facts(environment, resolved.store, clock));
    return resolved;
}

} // namespace vok::authority
