// AuthorityDecision: the short answer of one evaluation, which the caller acts on, and its JSON
// document.
//
// `trace_ref` names the decision's trace (it equals `decision_id`). The document is compact JSON
// with five keys in field order, then `operator_action_hint` only when there is one.
#pragma once

#include <optional>
#include <string>

#include "authority/enumerations.h"

namespace vok::authority {

struct AuthorityDecision {
    std::string decision_id;
    std::string request_id;
    FinalDecision final_decision = FinalDecision::NotApplicable;
    std::string reason_code;
    std::string trace_ref;
    std::optional<std::string> operator_action_hint;
};

// Writing into memory cannot fail.
std::string serialize_decision_record(const AuthorityDecision& decision);

} // namespace vok::authority
