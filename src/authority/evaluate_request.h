// evaluate_request: one authority request evaluated against an environment, from the request and
// its fact envelopes to the decision, its trace, and the trace kept in the evidence store.
//
// The stages run in order: fact resolution (request checks, caller facts, trust, transforms),
// policy applicability, conflict resolution, then the identifiers and hashes that tie the trace
// to the candidates, the request, the resolver semantics and the unknown-handling defaults. The
// trace is appended to the environment's evidence store before the decision is returned; a store
// that can no longer be trusted to keep it refuses an Allow (an allow must be auditable) and lets
// every other decision through unstored.
//
// Storing the trace is the one change an evaluation makes, so it is a step of its own and the
// last: everything before it (including writing the documents a caller returns) may stop on
// cancellation and leaves the store as it was; from the store on nothing polls.
//
// The environment is only read; the store has its own lock, so evaluations may share an
// environment.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "authority/authority_decision.h"
#include "authority/authority_error.h"
#include "authority/clock.h"
#include "authority/decision_trace.h"
#include "authority/environment.h"
#include "authority/fact_envelope.h"
#include "authority/request.h"

namespace vok::authority {

struct EvaluationResult {
    // Shared with the evidence store, which keeps it unchanged.
    std::shared_ptr<const DecisionTrace> trace;
    AuthorityDecision decision;
};

// The compact JSON array of the candidate policy ids, which `ir_hash` hashes.
std::string candidate_ids_text(const std::vector<std::string>& candidate_ids);

// request_id + ":" + actor id + ":" + operation + ":" + the resource as compact JSON ("id" and
// "type" when present, then the attributes in ascending key byte order); `action_request_hash`
// hashes it.
std::string action_request_text(const AuthorityRequest& request);

// Evaluates `request` with `facts` up to the decision and its trace, without storing the trace.
Result<EvaluationResult, AuthorityError> decide_request(const AuthorityEnvironment& environment,
                                                        const AuthorityRequest& request,
                                                        std::vector<FactEnvelope> facts,
                                                        Clock& clock);

// Appends the trace of `result` to the environment's evidence store, or refuses an Allow that a
// poisoned store cannot keep. Asks for cancellation first and never after (the rest of the call
// included: common/cancellation.h), so an evaluation that its caller stops has stored nothing.
Result<void, AuthorityError> store_trace(const AuthorityEnvironment& environment,
                                         const EvaluationResult& result);

// decide_request, then store_trace. On failure nothing is stored and the environment is as it
// was.
Result<EvaluationResult, AuthorityError> evaluate_request(const AuthorityEnvironment& environment,
                                                          const AuthorityRequest& request,
                                                          std::vector<FactEnvelope> facts,
                                                          Clock& clock);

} // namespace vok::authority
