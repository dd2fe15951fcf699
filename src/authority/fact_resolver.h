// The first stages of evaluating a request: refuse an environment that was never validated and a
// request without its identifying fields, turn the request's context into caller facts, decide
// for every incoming fact envelope whether it is trusted, and derive facts with the environment's
// transforms. What comes out (`ResolvedFacts`) is everything policy evaluation and the decision
// trace need from these stages.
//
// Trust is decided by presence and registration only: a signature or evidence reference is
// required to be there, never verified here; an envelope's confidence, observation time and
// lineage play no part in whether it is trusted (they matter to transforms and requirements).
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "authority/authority_error.h"
#include "authority/clock.h"
#include "authority/decision_trace.h"
#include "authority/derived_fact_lineage.h"
#include "authority/environment.h"
#include "authority/fact_envelope.h"
#include "authority/fact_store.h"
#include "authority/request.h"
#include "json/value.h"

namespace vok::authority {

// The request's identifying fields, in this order: request id, actor id, operation (each refused
// when empty), then the resource, refused only when it has neither an id nor a type (an empty one
// passes).
Result<void, AuthorityError> check_request(const AuthorityRequest& request);

// One caller fact per leaf of `map`, appended to `out`: keys are walked in ascending byte order,
// objects are walked (an empty one gives nothing), every other value, arrays included, is a leaf.
// A leaf's path is its key, after `prefix` and "." when there is a prefix. Caller facts come from
// source "caller" as caller_supplied, observed at `now`. Nesting depth costs no stack.
void flatten_context_facts(const json::Object& map, std::optional<std::string_view> prefix,
                           UtcInstant now, std::vector<FactEnvelope>& out);

// Whether the allowed-path entry `allowed` admits `path`: the path itself; when the entry ends
// with ".", every path starting with it; otherwise every path starting with the entry and ".".
// So "order" admits "order" and "order.total" but not "orders", and "order." admits
// "order.total" but not "order".
bool path_allowed(std::string_view allowed, std::string_view path);

// The trust decision for one envelope, from the first check it fails: "unregistered_source",
// "source_class_mismatch", "path_not_allowed", "missing_evidence_ref", "missing_signature",
// "stale_fact" (an envelope expiring at `now` or earlier), else "trusted".
FactTrustDecision trust_envelope(const AuthorityEnvironment& environment,
                                 const FactEnvelope& envelope, UtcInstant now);

// What the stages before policy evaluation hand on.
struct ResolvedFacts {
    // The one clock reading before the context was flattened: the caller facts' `observed_at`
    // and the "now" of the staleness checks.
    UtcInstant evaluated_at;
    // Caller facts, then trusted envelopes (each replacing the first fact of its path, or
    // appended), then derived facts. Policy evaluation reads facts here, with `trust_class` for
    // their trust; the trace lists them all as `fact_envelopes`.
    FactStore store;
    // One per incoming envelope, in list order: the trace's `fact_trust_decisions`.
    std::vector<FactTrustDecision> trust_decisions;
    // One per derived fact, in the order made: the trace's `derived_fact_lineage`.
    std::vector<DerivedFactLineage> derived_lineage;
};

// Steps 1 to 5 of an evaluation: the validated check, the request checks, one clock reading and
// the caller facts, the trust checks in list order, and the transforms (each derived fact reads
// the clock once more). An error in any of them ends the evaluation; nothing is recorded and the
// environment is untouched.
Result<ResolvedFacts, AuthorityError> resolve_facts(const AuthorityEnvironment& environment,
                                                    const AuthorityRequest& request,
                                                    std::vector<FactEnvelope> facts, Clock& clock);

} // namespace vok::authority
